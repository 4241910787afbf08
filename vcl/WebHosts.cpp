#include "vcl/WebHosts.h"

TWebBrowser::TWebBrowser(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {}

const TCLPropTable& TWebBrowser::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TWebBrowser>()
          .WideText("LocationURL", "WideString", &TWebBrowser::LocationURL,
                    &TWebBrowser::SetLocationURL)
          .Plain("Silent", "WordBool", TCLTypeKind::Enumeration)
          .Event("OnBeforeNavigate2", "TWebBrowserBeforeNavigate2")
          .Build();
  return table;
}

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
