#include "views/SpTmForm.h"

#include "app/global.h"

TFormSpTm::TFormSpTm(QWidget* parent)
    : TViewForm("Spectrogram", {&SpTmX, &SpTmY, &SpTmW, &SpTmH, &SpTmShow}, QSize(500, 540), parent)
{
}

void ClearSpTm()
{
    // The spectrogram surface arrives with the spectrogram view; until then
    // there is nothing to clear.
}
