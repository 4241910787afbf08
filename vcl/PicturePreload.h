// Pictures decoded ahead: the start-up names the files its first windows
// will show, and they are decoded on the application's worker threads while
// the user-interface thread builds those windows. A window then loads a
// picture through LoadPicture, which takes the decoded one (waiting for it
// if its decoding is still under way) or else reads the file itself.
#pragma once

#include <QPixmap>

#include <string>
#include <vector>

// Starts decoding the files and returns at once. A file already waiting to
// be taken is not decoded again. The application object must exist.
void PreloadPictures(const std::vector<std::string>& files);

// The picture of a file, as QPixmap::load gives it: false, with the pixmap
// unchanged, when the file is missing or not a picture. A preloaded picture
// is handed out once; a later load reads the file again.
bool LoadPicture(const std::string& file, QPixmap& out);

// Files started ahead and not yet taken (for the tests).
size_t PreloadedPicturesWaiting();
