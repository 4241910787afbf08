// Hosts for the embedded web browser and the popup's movie. They carry the
// class names and published properties the translator must recognise (and
// leave alone); the browser engine and the movie renderer themselves are
// built into these hosts by the windows that show pages and the popup.
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

class TShockwaveFlash : public TVclControl<QWidget> {
 public:
  explicit TShockwaveFlash(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TShockwaveFlash"; }
  const TCLPropTable& PropTable() const override;
  std::string Movie() const { return FMovie; }
  void SetMovie(const std::string& v) { FMovie = v; }
  std::string Quality() const { return FQuality; }
  void SetQuality(const std::string& v) { FQuality = v; }

 private:
  std::string FMovie;
  std::string FQuality = "High";
};
