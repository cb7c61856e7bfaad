#include "gui/res/DialogBuilder.h"

#include "gui/res/EditTypingLimit.h"
#include "core/res/Resource.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace {

constexpr const char* kFallbackFace = "IPAPGothic";

QString Text(const char* utf8) { return QString::fromUtf8(utf8 ? utf8 : ""); }

QWidget* MakePlain(const ControlTemplate& control, QWidget* parent) {
    switch (control.kind) {
    case ControlKind::Label:
    case ControlKind::Link: {
        auto* label = new QLabel(Text(control.text), parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(control.cy > 12);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
        auto* button = new QPushButton(Text(control.text), parent);
        // As in a Windows dialog, a push button that has the focus takes Enter.
        button->setAutoDefault(true);
        if (control.kind == ControlKind::DefaultPushButton)
            button->setDefault(true);
        return button;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(Text(control.text), parent);
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(Text(control.text), parent);
        if (control.style & ES_NUMBER_STYLE)
            EditTypingLimit::Of(edit)->SetDigitsOnly(true);
        return edit;
    }
    case ControlKind::ListControl: {
        auto* list = new QTreeWidget(parent);
        list->setRootIsDecorated(false);
        list->setItemsExpandable(false);
        list->setUniformRowHeights(true);
        list->setAllColumnsShowFocus(true);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        // A list control without the single-selection style: Ctrl and Shift
        // clicks select several rows.
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setSortingEnabled(false);
        list->header()->setSectionsClickable(false);
        list->header()->setStretchLastSection(false);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        return list;
    }
    case ControlKind::MultiLineEdit: {
        auto* edit = new QPlainTextEdit(Text(control.text), parent);
        edit->setReadOnly(true);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return edit;
    }
    case ControlKind::GroupBox:
        return new QGroupBox(Text(control.text), parent);
    case ControlKind::IpAddress:
        // Only a custom factory knows how to make it; an edit box stands in
        // so that a dialog without one still lays out.
        return new QLineEdit(parent);
    }
    return nullptr;
}

} // namespace

QFont DialogBuilder::DialogFont(const DialogTemplate& dialog) {
    const QString face = Text(dialog.fontFace);
    const QStringList families = QFontDatabase::families();
    QFont font(families.contains(face) ? face : QString::fromLatin1(kFallbackFace));
    font.setPointSize(dialog.pointSize);
    return font;
}

DialogUnits DialogBuilder::Measure(const QFont& font) {
    QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    units.baseX = (letters / 26 + 1) / 2;
    units.baseY = metrics.height();
    if (units.baseX <= 0)
        units.baseX = 6;
    if (units.baseY <= 0)
        units.baseY = 12;
    return units;
}

QString DialogBuilder::ControlName(int id) { return QString::number(id); }

QWidget* DialogBuilder::Control(const QWidget* dialog, int id) {
    if (!dialog)
        return nullptr;
    return dialog->findChild<QWidget*>(ControlName(id), Qt::FindDirectChildrenOnly);
}

bool DialogBuilder::Build(QDialog* dialog, int templateId, const CustomFactory& custom) {
    const DialogTemplate* tmpl = FindDialogTemplate(templateId);
    if (!tmpl || !dialog)
        return false;
    const QFont font = DialogFont(*tmpl);
    dialog->setFont(font);
    dialog->setWindowTitle(Text(tmpl->caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::MSWindowsFixedSizeDialogHint;
    if (tmpl->systemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    dialog->setWindowFlags(flags);

    const DialogUnits units = Measure(font);
    dialog->setFixedSize(units.toPixelsX(tmpl->cx), units.toPixelsY(tmpl->cy));

    int labels = 0;
    QWidget* previous = nullptr;
    for (const ControlTemplate& control : tmpl->controls) {
        QWidget* widget = custom ? custom(control, dialog) : nullptr;
        if (!widget)
            widget = MakePlain(control, dialog);
        if (control.id == IDC_STATIC)
            widget->setObjectName(QStringLiteral("static%1").arg(labels++));
        else
            widget->setObjectName(ControlName(control.id));
        QRect place(units.toPixelsX(control.x), units.toPixelsY(control.y),
                    units.toPixelsX(control.cx), units.toPixelsY(control.cy));
        // The stand-in font is a little wider than the one the sizes were made
        // for: a one-line text or check box may grow to the right, within the
        // dialog, rather than be cut.
        const bool oneLine = (control.kind == ControlKind::Label && control.cy <= 12) ||
                             control.kind == ControlKind::Link ||
                             control.kind == ControlKind::CheckBox;
        if (oneLine && widget->sizeHint().width() > place.width())
            place.setWidth(std::min(widget->sizeHint().width(),
                                    dialog->width() - place.x() - units.toPixelsX(2)));
        widget->setGeometry(place);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous)
                QWidget::setTabOrder(previous, widget);
            previous = widget;
        }
    }
    return true;
}
