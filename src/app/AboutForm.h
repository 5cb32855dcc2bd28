#pragma once
// The About box: icon, name, version and the maker's contact data. Any key
// (a modifier alone is only the start of one), the Close button or a click
// anywhere but on the two links closes it; the links open the mail program
// and the browser.

#include <QDialog>
#include <QIcon>
#include <memory>

namespace Ui {
class AboutForm;
}

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *Owner = nullptr);
    ~TAboutForm() override;

    // Filled in by the opener before showing.
    void SetIdentity(const QString &Name, const QString &Version, const QIcon &Icon);
    // The settings file the program read ("none" without one); a long path
    // is shortened in the middle, the whole of it is the tool tip. Problem:
    // the file could not be read (Source says why), shown as a warning.
    void SetSettingsFile(const QString &Source, bool Problem = false);

public slots:
    void FormClick();
    void lblEMailClick();
    void lblURLClick();

protected:
    void keyPressEvent(QKeyEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    std::unique_ptr<Ui::AboutForm> ui;
};
