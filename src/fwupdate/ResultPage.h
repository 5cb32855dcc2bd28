#pragma once
// The wizard's last page: how the upload ended and, after a failure, the
// advice to reconnect and what ended it.

#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class TResultPage;
}

class TResultPage : public QWidget {
    Q_OBJECT
public:
    explicit TResultPage(QWidget *Parent = nullptr);
    ~TResultPage() override;

    Ui::TResultPage &Controls() { return *ui; }

    // Success: Status in green and the summary of the update below it.
    // Failure: Status in red, the advice to reconnect and, when more is
    // known, Detail below it.
    void ShowResult(bool Ok, const QString &Status, const QString &Detail,
                    const QString &Summary = {});

private:
    std::unique_ptr<Ui::TResultPage> ui;
};
