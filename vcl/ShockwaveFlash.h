// Host of the popup's movie: the component the popup drives with command
// texts. It carries the class name and published properties the translator
// must recognise (and leave alone).
#pragma once

#include <QWidget>

#include <string>

#include "vcl/Controls.h"

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
