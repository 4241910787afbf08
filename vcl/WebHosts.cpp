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
