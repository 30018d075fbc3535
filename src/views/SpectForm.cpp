#include "views/SpectForm.h"

#include "app/global.h"

TFormSpect::TFormSpect(QWidget* parent)
    : TViewForm("Spectum", {&SpectX, &SpectY, &SpectW, &SpectH, &SpectShow}, QSize(310, 270), parent)
{
}
