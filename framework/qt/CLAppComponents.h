// The application-wide components that live on the main window and that
// every other window refers to: the built-in skin, the skin library's string
// table, the skin data, the translation data and the engine. One function
// makes them, in this order and wired to each other, for the program's main
// window and for the windows the tests stand in its place.
#pragma once

class TForm;
class TCLEngine;
class TCLMultiLangData;
class TspCompressedStoredSkin;
class TspResourceStrData;
class TspSkinData;

struct TCLAppComponents {
  TspCompressedStoredSkin* spCompressedStoredSkin = nullptr;
  TspResourceStrData* spResourceStrData = nullptr;
  TspSkinData* spSkinData = nullptr;
  TCLMultiLangData* CLMultiLangData = nullptr;
  TCLEngine* CLEngine = nullptr;
};

// Creates the components on aOwner (which owns and frees them). Without
// aSkinned there are no skin components, and the engine draws no skin.
TCLAppComponents CreateAppComponents(TForm* aOwner, bool aSkinned = true);
