// Gives a window the shape of a PNG picture: the window takes the picture's
// size, shows it, and its transparent pixels let the desktop through.
#pragma once

#include <QLabel>
#include <QPixmap>

#include <string>

#include "vcl/Controls.h"

class TspPngForm : public TVclControl<QLabel> {
 public:
  explicit TspPngForm(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TspPngForm"; }
  const TCLPropTable& PropTable() const override;

  // False (picture unchanged) when the file is missing or not a picture.
  bool LoadFromFile(const std::string& fn);
  void SetPicture(const QPixmap& picture);
  const QPixmap& Picture() const { return FPicture; }

 private:
  QPixmap FPicture;
};
