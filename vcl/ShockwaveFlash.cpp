#include "vcl/ShockwaveFlash.h"

TShockwaveFlash::TShockwaveFlash(TCLComponent* AOwner, QWidget* AParent)
    : TVclControl(AOwner, AParent) {}

const TCLPropTable& TShockwaveFlash::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TShockwaveFlash>()
          .WideText("Movie", "WideString", &TShockwaveFlash::Movie, &TShockwaveFlash::SetMovie)
          .WideText("Quality2", "WideString", &TShockwaveFlash::Quality, &TShockwaveFlash::SetQuality)
          .Plain("Menu", "WordBool", TCLTypeKind::Enumeration)
          .Plain("Loop", "WordBool", TCLTypeKind::Enumeration)
          .Event("OnFSCommand", "TShockwaveFlashFSCommand")
          .Build();
  return table;
}
