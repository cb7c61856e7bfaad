#pragma once
// Builds a dialog's controls from its template: one Qt widget per control,
// placed and sized from dialog units in the dialog's font, named after its
// control id (objectName "1002"; labels without an id "static0", "static1",
// ...), in template order, which is also the tab order.

#include "core/res/DialogTemplate.h"

#include <QFont>
#include <functional>

class QDialog;
class QWidget;

// Pixels per dialog unit, horizontally and vertically, for a font: the
// average width of the Latin letters and the line height, as dialog units
// are defined (4 units across an average character, 8 units down a line).
struct DialogUnits {
    int baseX = 0; // average character width in pixels
    int baseY = 0; // character height in pixels
    int toPixelsX(int units) const { return (units * baseX + 2) / 4; }
    int toPixelsY(int units) const { return (units * baseY + 4) / 8; }
};

class DialogBuilder {
public:
    // Makes a widget for a control kind that the builder does not know
    // itself (the IP address control); null means "build a plain one".
    using CustomFactory = std::function<QWidget*(const ControlTemplate&, QWidget* parent)>;

    // The dialog font of a template; falls back to IPAPGothic where the
    // template's face is missing.
    static QFont DialogFont(const DialogTemplate& dialog);
    static DialogUnits Measure(const QFont& font);

    // Sets the dialog's caption, font, fixed size and window frame, and
    // creates its controls. Returns false for an unknown template id.
    static bool Build(QDialog* dialog, int templateId, const CustomFactory& custom = {});

    // The control of a built dialog by its id (null when there is none).
    static QWidget* Control(const QWidget* dialog, int id);
    template <typename T> static T* ControlAs(const QWidget* dialog, int id) {
        return qobject_cast<T*>(Control(dialog, id));
    }

    // Object name of a control id.
    static QString ControlName(int id);
};
