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
  setGeometry(0, 0, picture.width(), picture.height());
  if (TForm* form = dynamic_cast<TForm*>(Owner())) {
    form->SetClientSize(picture.width(), picture.height());
    // The window keeps only the picture's opaque pixels.
    if (picture.hasAlphaChannel())
      form->setMask(picture.mask());
    else
      form->clearMask();
  }
}
