#pragma once

// The library's two ready-made forms: general feedback and a short survey.
// Both submit through the shared client and show their own success and errors.

#include "murmex.h"

#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <variant>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedLayout;

namespace murmex {

class MurmexView final : public QWidget {
    Q_OBJECT

public:
    // Configures the shared client with `config`.
    explicit MurmexView(MurmexConfig config, std::function<void()> onDismiss = {}, QWidget* parent = nullptr);

private:
    QCoro::Task<> send();
    void update();

    MurmexConfig m_config;
    std::function<void()> m_onDismiss;
    bool m_isSubmitting = false;
    QStackedLayout* m_pages = nullptr;
    QComboBox* m_category = nullptr;
    QLineEdit* m_email = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QLabel* m_error = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_send = nullptr;
};

struct MurmexSurveyQuestion {
    struct Rating {
        QString label;
        int max = 5;
    };
    struct Choice {
        QString label;
        QStringList options;
    };
    struct Text {
        QString label;
        QString placeholder;
    };
    std::variant<Rating, Choice, Text> kind;

    const QString& label() const;
    bool isRequired() const { return !std::holds_alternative<Text>(kind); }
};

// Buttons 1 to `max`; choosing one reports it, choosing it again clears it.
class RatingRow final : public QWidget {
    Q_OBJECT

public:
    RatingRow(int max, std::function<void(std::optional<int>)> onSelect, std::optional<QColor> tint,
              QWidget* parent = nullptr);
    std::optional<int> selected() const { return m_selected; }

private:
    void select(std::optional<int> value);
    void paint();

    std::vector<QPushButton*> m_buttons;
    std::optional<int> m_selected;
    std::function<void(std::optional<int>)> m_onSelect;
    std::optional<QColor> m_tint;
};

class MurmexSurveyView final : public QWidget {
    Q_OBJECT

public:
    MurmexSurveyView(MurmexConfig config, QString title, std::vector<MurmexSurveyQuestion> questions,
                     std::function<void()> onDismiss = {}, QWidget* parent = nullptr);

private:
    QCoro::Task<> submit();
    void update();

    MurmexConfig m_config;
    QString m_title;
    std::vector<MurmexSurveyQuestion> m_questions;
    std::function<void()> m_onDismiss;
    std::map<QString, QString> m_answers;
    bool m_isSubmitting = false;
    QStackedLayout* m_pages = nullptr;
    QLabel* m_error = nullptr;
    QPushButton* m_submit = nullptr;
};

}  // namespace murmex
