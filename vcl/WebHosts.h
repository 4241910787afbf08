// Host of the embedded web browser. It carries the class name and published
// properties the translator must recognise (and leave alone).
#pragma once

#include <QWidget>

#include <string>

#include "vcl/Controls.h"

class TWebBrowser : public TVclControl<QWidget> {
 public:
  explicit TWebBrowser(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TWebBrowser"; }
  const TCLPropTable& PropTable() const override;
  std::string LocationURL() const { return FLocationURL; }
  void SetLocationURL(const std::string& v) { FLocationURL = v; }

 private:
  std::string FLocationURL;
};
