#pragma once

#include <QListWidget>
#include <vector>

#include "protocol/ready_answers.h"

class QLineEdit;

namespace tertulia {

// The list of ready answers that a message line offers: a popup over the line, which has the
// keyboard while it is open, so that a screen reader announces the list ("Respuestas rápidas")
// and its chosen answer. Up and Down choose, Tab or Enter take the chosen answer, Escape closes
// it; every other key goes on to the message line, which keeps being typed in.
class ReadyAnswerPopup : public QListWidget {
    Q_OBJECT

  public:
    explicit ReadyAnswerPopup(QLineEdit& line);

    // Shows these answers, the first one chosen; none closes the list.
    void Offer(const std::vector<ReadyAnswer>& answers);

  signals:
    // The operator took an answer: its text as the message line holds it.
    void Chosen(const QString& text);
    // The operator closed the list with Escape.
    void Dismissed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Take(const QListWidgetItem* item);

    QLineEdit& line_;
};

}  // namespace tertulia
