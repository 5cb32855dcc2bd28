#include "widgets/WindowHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDialog>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QWidget>
#include <QWindow>

void SetRoundRegion(QWidget *Panel) {
    // Corners are ellipses 20 pixels wide and high, that is a radius of 10.
    // Drawn by the style sheet (anti-aliased, follows later size changes);
    // the selector names this panel only, so its children keep their look.
    const QString Name = Panel->objectName();
    Panel->setAttribute(Qt::WA_StyledBackground, true);
    Panel->setStyleSheet(
        QStringLiteral("#%1 { background-color: white; border: none; border-radius: 10px; }")
            .arg(Name));
}

namespace {

class TMinimizeAllFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override {
        if (Event->type() == QEvent::WindowStateChange &&
            (static_cast<QWidget *>(Watched)->windowState() & Qt::WindowMinimized))
            MinimizeApplication();
        return false;
    }
};

}  // namespace

void InstallMinimizeAll(QWidget *Window) {
    Window->setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    Window->installEventFilter(new TMinimizeAllFilter(Window));
}

void MinimizeApplication() {
    static bool Busy = false;
    if (Busy) return;
    Busy = true;
    // Minimising one window changes the list of visible ones: collect first.
    QList<QPointer<QWidget>> Windows;
    for (QWidget *W : QApplication::topLevelWidgets())
        if (W->isVisible() && W->isWindow()) Windows.append(W);
    for (const QPointer<QWidget> &W : Windows)
        if (W && !(W->windowState() & Qt::WindowMinimized))
            W->setWindowState(W->windowState() | Qt::WindowMinimized);
    Busy = false;
}

static void InitResourcesOutsideNamespace() {
    Q_INIT_RESOURCE(widgets);
}

void InitWidgetResources() {
    static const bool Done = (InitResourcesOutsideNamespace(), true);
    (void)Done;
}

namespace {
// An icon from the sizes rendered at build time (see CMakeLists.txt).
QIcon RenderedIcon(const QString &Name, std::initializer_list<int> Sizes) {
    QIcon Icon;
    for (int Size : Sizes)
        Icon.addFile(QStringLiteral(":/widgets/%1-%2.png").arg(Name).arg(Size), QSize(Size, Size));
    return Icon;
}
}  // namespace

QIcon ReloadIcon() {
    return RenderedIcon(QStringLiteral("reload16"), {16, 32});
}

QIcon AppIcon() {
    return RenderedIcon(QStringLiteral("veldra-update"), {16, 32, 48, 64, 128, 256});
}

void ApplyWindowFont(QWidget *Window) {
    QFont F = Window->font();
    F.setPixelSize(13);
    Window->setFont(F);
}

namespace {

class TEnterClicksFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override {
        if (Event->type() != QEvent::KeyPress) return false;
        const auto *Key = static_cast<QKeyEvent *>(Event);
        if (Key->key() != Qt::Key_Return && Key->key() != Qt::Key_Enter) return false;
        if (Key->modifiers() & ~Qt::KeypadModifier) return false;
        auto *Button = static_cast<QAbstractButton *>(Watched);
        if (Button->isEnabled()) Button->click();
        return true;  // never falls through to the dialog's default button
    }
};

}  // namespace

void EnableEnterOnButtons(QWidget *Window) {
    for (QPushButton *Button : Window->findChildren<QPushButton *>()) Button->setAutoDefault(true);
    auto *Filter = new TEnterClicksFilter(Window);
    for (QToolButton *Button : Window->findChildren<QToolButton *>())
        Button->installEventFilter(Filter);
    for (QCheckBox *Box : Window->findChildren<QCheckBox *>()) Box->installEventFilter(Filter);
}

namespace {

// Watches Enter as it bubbles up from a field to the window, and the focus
// moving within the window (to mark the action as the default button).
class TEnterActionFilter : public QObject {
public:
    TEnterActionFilter(QWidget *Window, TEnterActions Actions)
        : QObject(Window), FWindow(Window), FActions(std::move(Actions)) {
        Window->installEventFilter(this);
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *Now) {
            if (Now && Now->window() == FWindow) MarkDefault(Now);
        });
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override {
        if (Watched != FWindow || Event->type() != QEvent::KeyPress) return false;
        const auto *Key = static_cast<QKeyEvent *>(Event);
        if (Key->key() != Qt::Key_Return && Key->key() != Qt::Key_Enter) return false;
        if (Key->modifiers() & ~Qt::KeypadModifier) return false;
        QWidget *Focus = FWindow->focusWidget();
        // A focused button answers Enter itself (it never gets here then).
        if (!Focus || qobject_cast<QAbstractButton *>(Focus)) return false;
        QPushButton *Action = ActionOf(Focus);
        if (Action && Action->isEnabled() && Action->isVisible()) Action->click();
        return true;  // the field's own action or nothing; no hidden default
    }

private:
    // The action of a field or of the field that contains it (the text
    // part of a number box).
    QPushButton *ActionOf(QWidget *W) const {
        for (; W && W != FWindow; W = W->parentWidget())
            for (const auto &[Field, Action] : FActions)
                if (Field == W) return Action;
        return nullptr;
    }

    void MarkDefault(QWidget *Now) {
        if (auto *Button = qobject_cast<QPushButton *>(Now); Button && Button->autoDefault())
            return;
        QPushButton *Action = ActionOf(Now);
        for (QPushButton *B : FWindow->findChildren<QPushButton *>())
            if (B != Action) B->setDefault(false);
        if (Action) Action->setDefault(true);
    }

    QWidget *FWindow;
    TEnterActions FActions;
};

}  // namespace

void SetEnterActions(QWidget *Window, TEnterActions Actions) {
    new TEnterActionFilter(Window, std::move(Actions));
}

void CentreOnScreen(QWidget *Window) {
    QScreen *Screen = QGuiApplication::screenAt(QCursor::pos());
    if (!Screen) Screen = QGuiApplication::primaryScreen();
    if (!Screen) return;
    Window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, Window->size(),
                                            Screen->availableGeometry()));
}

TWaitCursor::TWaitCursor(Qt::CursorShape Shape) {
    QGuiApplication::setOverrideCursor(QCursor(Shape));
}

TWaitCursor::~TWaitCursor() {
    QGuiApplication::restoreOverrideCursor();
}

QString CatalogueText(const std::string &Text) {
    if (Text == "N/A") return QCoreApplication::translate("Catalogue", "N/A");
    if (Text == "Unknown") return QCoreApplication::translate("Catalogue", "Unknown");
    return QString::fromStdString(Text);
}
