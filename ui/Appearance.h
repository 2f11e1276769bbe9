// The colour schemes, fonts, pictures and icons of the main window, and the dialog-unit
// arithmetic that places its controls. Dialog units scale with the dialog font, so the window
// keeps its designed proportions whatever font the system substitutes and at any scale factor.
// User-interface thread.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QRect>

// Pixels per 4 horizontal and per 8 vertical dialog units: the font's average width of the
// 52 letters A-Z a-z (rounded to the nearest pixel) and its height.
struct DialogBaseUnits {
    int cx = 0;
    int cy = 0;
};

DialogBaseUnits BaseUnitsFor(const QFont& font);
// x * cx / 4 and y * cy / 8, each rounded to the nearest pixel (halves away from zero).
QRect MapDialogRect(const QRect& dialogUnits, const DialogBaseUnits& units);

// A font of the named face with a close face Debian ships as fallback ("MS Sans Serif" falls
// back to DejaVu Sans, "MS Serif" to DejaVu Serif).
QFont MakeDialogFont(const char* face, int points);
QFont MakeComboFont();  // "MS Serif", 14 px, weight 600
QFont MakeMeterFont();  // "MS Serif", 13 px, weight 100

// Colours the display offers: 2^depth for palette displays, 16777216 above 8 bits per pixel.
int ColourCountFromDepth(int depth);

struct SchemeColours {
    QColor clrBackground;
    QColor clrText;
    int nPictureIdle;  // bitmap ids
    int nPictureActive;
};

// Purple: 60,0,80 (128,0,128 on displays of 16 colours or fewer), white text. Standard: the
// system palette's button face and text colours.
SchemeColours SchemeFor(bool purple, int numColors, const QPalette& system);

// The text and background colours of a control: combo boxes green on black, the four
// Recording Info lines cyan on black, everything else in the scheme's colours.
struct ControlColours {
    QColor clrText;
    QColor clrBackground;
    bool bOpaque;
};
enum class ControlClass { Combo, InfoLine, Other };
ControlColours ColoursFor(ControlClass cls, const SchemeColours& scheme);

class QComboBox;
class QWidget;

// The window and everything drawn on it (labels, group boxes, check boxes, trackbars) in the
// scheme's colours; push buttons keep the system's button colours.
void ApplyWindowColours(QWidget* window, const SchemeColours& scheme);
// A combo box's field and list in the combo colours, green on black in both schemes.
void ApplyComboColours(QComboBox* box, const SchemeColours& scheme);

class QAbstractButton;
// A push button that stays down (DC Block): its name followed by "On" or "Off", and lit when
// on, so the state reads at a glance in either scheme (a pressed button is barely darker).
void ShowToggleState(QAbstractButton* button);

// Renders an SVG bitmap resource to fill the given size, at the pixel ratio of the screen.
QPixmap LoadPicture(int id, const QSize& size, qreal pixelRatio);
QIcon LoadIconResource(int id);
