// The levels view window: per channel the sample peak with its held maximum
// and clip count, the true peak, the RMS levels Fast and Slow and Leq with
// the chosen frequency weighting, then the loudness (momentary, short-term,
// integrated, range, maximum true peak), each a bar with a large number on
// the panel PanelLevels, below a strip with the weighting and the reset.
//
// The meters are fed in the block path, and only while this window is shown
// (FeedLevels); painting reads what they measured under the same lock.
#pragma once

#include "meters/levelsgeometry.h"
#include "views/plotsurface.h"
#include "views/viewform.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <cstdint>

// Feeds one captured block (`frames` samples per channel) to the levels
// view's meters when the view is shown; does nothing otherwise. Block path,
// any thread.
void FeedLevels(const int16_t* left, const int16_t* right, int frames);
// Starts the meters afresh (a new device): filters, levels and loudness.
void RestartLevels();

class TFormLevels : public TViewForm {
    Q_OBJECT
public:
    explicit TFormLevels(QWidget* parent = nullptr);
    // Stops the feeding and drops the meters with what they measured.
    ~TFormLevels() override;

    TPlotSurface* PanelLevels = nullptr;
    QLabel* LabWeighting = nullptr;
    QComboBox* ComboWeighting = nullptr;
    QPushButton* BtnReset = nullptr;

    // The strip's controls and the panel below them.
    void DrawLevelsFrame();
    void DrawFrame() override { DrawLevelsFrame(); }
    // Requests a repaint of the panel (any thread).
    void InvRectLevels();
    // What the panel showed last.
    const levelsview::MeterReadings& Readings() const { return readings; }

public slots:
    void FormShow() override;
    // The weighting chosen: stored, given to the meters (which start again).
    void ComboWeightingChange(int index);
    // Starts the held maxima, clip counts, Leq and the loudness again.
    void BtnResetClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildStrip();
    void RenderLevels();
    levelsview::MeterReadings readings;
};

inline TFormLevels* FormLevels = nullptr;
