#include "views/viewform.h"

#include "platform/atomicfile.h"
#include "platform/dialogs.h"
#include "views/panelwidgets.h"
#include "views/plotsurface.h"

#include <QBuffer>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>

TViewForm::TViewForm(const QString& caption, Geometry fields_, QSize minimumOuter_, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      fields(fields_), minimumOuter(minimumOuter_)
{
    setWindowTitle(caption);
    setMinimumSize(minimumOuter);
    setAttribute(Qt::WA_OpaquePaintEvent); // invalidation never erases
}

bool TViewForm::FrameIntact() const
{
    return !canvas.isNull() && (canvas.pixel(0, 0) & 0xFFFFFF) == 0;
}

QRect TViewForm::OuterGeometry() const
{
    return frameGeometry();
}

void TViewForm::SetOuterGeometry(int left, int top, int width, int height)
{
    // Without a window manager frame and client coincide; with one, the
    // frame's extra size comes off the client size.
    const QSize extra = frameGeometry().size() - size();
    move(left, top);
    resize(std::max(1, width - extra.width()), std::max(1, height - extra.height()));
}

void TViewForm::KeepGeometry()
{
    const QRect outer = OuterGeometry();
    *fields.w = outer.width();
    *fields.h = outer.height();
    *fields.x = outer.x();
    *fields.y = outer.y();
}

std::vector<ScreenRect> TViewForm::AvailableScreens()
{
    std::vector<ScreenRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        areas.push_back({area.x(), area.y(), area.width(), area.height()});
    }
    return areas;
}

void TViewForm::Invalidate()
{
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void TViewForm::DrawFrame()
{
    EnsureCanvas();
    QPainter painter(&canvas);
    painter.fillRect(canvas.rect(), palette().window());
    painter.end();
    canvas.setPixel(0, 0, qRgb(0, 0, 0));
    update();
}

void TViewForm::FormShow()
{
    if (const std::optional<ScreenRect> place = FitToScreens({*fields.x, *fields.y, *fields.w, *fields.h},
                                                             AvailableScreens()))
        SetOuterGeometry(place->x, place->y, place->width, place->height);
    *fields.show = true;
}

bool TViewForm::FormCloseQuery()
{
    KeepGeometry();
    return true;
}

void TViewForm::FormClose()
{
    *fields.show = false;
}

void TViewForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) // a restore from the task bar keeps the geometry
        FormShow();
}

void TViewForm::closeEvent(QCloseEvent* event)
{
    FormCloseQuery();
    FormClose();
    event->accept(); // the form is hidden, not freed
}

void TViewForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    DrawFrame();
}

void TViewForm::paintEvent(QPaintEvent*)
{
    EnsureCanvas();
    QPainter painter(this);
    painter.drawImage(0, 0, canvas);
}

void TViewForm::EnsureCanvas()
{
    if (canvas.size() == size())
        return;
    QImage grown(size(), QImage::Format_RGB32);
    grown.fill(palette().window().color());
    if (!canvas.isNull()) {
        QPainter painter(&grown);
        painter.drawImage(0, 0, canvas);
    }
    canvas = grown;
}

// ---- readout and export ----------------------------------------------------------

void TViewForm::AttachReadout(TPlotSurface* panel)
{
    readoutPanel = panel;
    readout = new TReadoutLabel(panel);
    connect(panel, &TPlotSurface::Hovered, this, [this](QPoint at) {
        pointer = at;
        pointerOver = true;
        UpdateReadout();
    });
    connect(panel, &TPlotSurface::HoverLeft, this, [this] {
        pointerOver = false;
        readout->hide();
    });
    connect(panel, &TPlotSurface::Rendered, this, &TViewForm::UpdateReadout);
}

QString TViewForm::ReadoutText(QPoint)
{
    return {};
}

void TViewForm::UpdateReadout()
{
    if (!pointerOver || !readout)
        return;
    const QString text = ReadoutText(pointer);
    if (text.isEmpty())
        readout->hide();
    else
        readout->ShowAt(pointer, text);
}

std::string TViewForm::SavePicture(const QString& path)
{
    // The window as the user sees it, without the label of the pointer.
    const bool labelShown = readout && readout->isVisible();
    if (labelShown)
        readout->hide();
    const QImage picture = grab().toImage();
    if (labelShown)
        readout->show();
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
        return "the picture could not be encoded";
    return platform::ReplaceFileAtomically(path.toStdString(), std::string_view(png.constData(), png.size()));
}

QString TViewForm::FileBaseName() const
{
    return readoutPanel ? readoutPanel->Name().toLower() : QString("view");
}

void TViewForm::ReportSaveFailure(const QString& path, const std::string& why)
{
    platform::MessageBox("Sonalyx", "Could not save " + path.toStdString() + ": " + why, platform::MsgIcon::Error);
}

QString TViewForm::AskSaveFile(const QString& suggested, const QString& filter)
{
    if (SaveFileHook)
        return SaveFileHook(suggested);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QFileDialog::getSaveFileName(this, "Save As", QDir(folder).filePath(suggested), filter);
}

void TViewForm::SavePictureClick()
{
    const QString path = AskSaveFile(FileBaseName() + ".png", "PNG pictures (*.png)");
    if (path.isEmpty())
        return;
    if (const std::string why = SavePicture(path); !why.empty())
        ReportSaveFailure(path, why);
}

void TViewForm::AddExportActions(QMenu& menu)
{
    menu.addAction("Save Picture...", this, &TViewForm::SavePictureClick);
}

void TViewForm::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    AddExportActions(menu);
    menu.exec(event->globalPos());
}
