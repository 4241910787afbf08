// Pictures decoded ahead: the start-up names the files its first windows
// will show, and a thread of their own decodes them while the user-interface
// thread builds those windows. A window then loads a picture through
// LoadPicture, which takes the decoded one (waiting for it if its decoding
// is still under way) or else reads the file itself.
#pragma once

#include <QPixmap>

#include <string>
#include <vector>

// Starts decoding the files, in the order given, and returns at once. A file
// already waiting to be taken is not decoded again. Plain files may be named
// before the application object exists (the decoding uses no Qt); compiled-in
// resources (":/...") are read by the caller, once it does.
void PreloadPictures(const std::vector<std::string>& files);

// The picture of a file, as QPixmap::load gives it: false, with the pixmap
// unchanged, when the file is missing or not a picture. On a screen of twice
// the pixel density, the file's "@2x" variant ("splash@2x.png" beside
// "splash.png") is taken when it exists, with a device pixel ratio of 2. A preloaded picture
// is handed out once; a later load reads the file again.
bool LoadPicture(const std::string& file, QPixmap& out);

// The "@2x" variant of a file when the screens want one and it exists;
// empty otherwise.
std::string HighDensityVariant(const std::string& file);

// Lets go of preloaded pictures no window is going to take.
void ForgetPreloadedPictures(const std::vector<std::string>& files);

// Files started ahead and not yet taken (for the tests).
size_t PreloadedPicturesWaiting();
