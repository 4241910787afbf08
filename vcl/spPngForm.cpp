#include "vcl/spPngForm.h"

#include <QBitmap>

#include "vcl/PicturePreload.h"

TspPngForm::TspPngForm(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  setObjectName("spPngForm");
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

const TCLPropTable& TspPngForm::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TspPngForm>().Plain("Picture", "TPicture", TCLTypeKind::Class).Build();
  return table;
}

bool TspPngForm::LoadFromFile(const std::string& fn) {
  QPixmap p;
  if (!LoadPicture(fn, p)) return false;
  SetPicture(p);
  return true;
}

void TspPngForm::SetPicture(const QPixmap& picture) {
  FPicture = picture;
  setPixmap(picture);
  // Its size on screen: a picture of twice the pixel density counts half.
  const QSize size = picture.deviceIndependentSize().toSize();
  setGeometry(0, 0, size.width(), size.height());
  if (TForm* form = dynamic_cast<TForm*>(Owner())) {
    form->SetClientSize(size.width(), size.height());
    // The window keeps only the picture's opaque pixels, in window units.
    if (picture.hasAlphaChannel())
      form->setMask(
          QBitmap::fromImage(picture.toImage()
                                 .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .createAlphaMask()));
    else
      form->clearMask();
  }
}
