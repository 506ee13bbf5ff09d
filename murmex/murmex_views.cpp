#include "murmex_views.h"

#include "murmex_strings.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace murmex {

namespace {

// Submits through the shared client; the user's sentence for a failure, empty on success.
QCoro::Task<QString> submitted(MurmexFeedback feedback, const char* encodingKey)
{
    try {
        co_await Murmex::submit(std::move(feedback));
    } catch (const std::exception& error) {
        co_return MurmexStrings::failure(error, encodingKey);
    }
    co_return QString();
}

// Success turns to the thanks page; a failure shows under the form, which keeps its input.
void showOutcome(const QString& failure, QStackedLayout* pages, QLabel* error)
{
    if (failure.isEmpty()) {
        pages->setCurrentIndex(1);
        return;
    }
    error->setText(failure);
    error->show();
}

QPushButton* primaryButton(const QString& text, const std::optional<QColor>& tint, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setDefault(true);
    if (tint)
        button->setStyleSheet(QStringLiteral("QPushButton:enabled { background: %1; color: white; }")
                                  .arg(tint->name()));
    return button;
}

// The success page: a check mark, the thanks, and Done.
QWidget* successPage(const std::function<void()>& onDismiss, const std::optional<QColor>& tint, QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    auto* mark = new QLabel(QStringLiteral("✔"), page);
    mark->setAccessibleName(MurmexStrings::text("murmex.success.message"));
    mark->setAlignment(Qt::AlignCenter);
    mark->setStyleSheet(QStringLiteral("font-size: 36px; color: #2e7d32;"));
    auto* thanks = new QLabel(MurmexStrings::text("murmex.success.message"), page);
    thanks->setAlignment(Qt::AlignCenter);
    auto* done = primaryButton(MurmexStrings::text("murmex.success.done"), tint, page);
    done->setObjectName(QStringLiteral("murmex-done"));
    QObject::connect(done, &QPushButton::clicked, page, [onDismiss] {
        if (onDismiss)
            onDismiss();
    });
    layout->addStretch();
    layout->addWidget(mark);
    layout->addWidget(thanks);
    layout->addWidget(done, 0, Qt::AlignCenter);
    layout->addStretch();
    return page;
}

QLabel* errorLabel(QWidget* parent)
{
    auto* error = new QLabel(parent);
    error->setObjectName(QStringLiteral("murmex-error"));
    error->setWordWrap(true);
    error->setStyleSheet(QStringLiteral("color: #c62828;"));
    error->hide();
    return error;
}

}  // namespace

MurmexView::MurmexView(MurmexConfig config, std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), m_config(std::move(config)), m_onDismiss(std::move(onDismiss))
{
    Murmex::configure(m_config);
    m_pages = new QStackedLayout(this);
    auto* form = new QWidget(this);
    auto* layout = new QVBoxLayout(form);
    auto* title = new QLabel(MurmexStrings::text("murmex.feedback.title"), form);
    title->setStyleSheet(QStringLiteral("font-weight: bold;"));
    layout->addWidget(title);

    auto* fields = new QFormLayout;
    m_category = new QComboBox(form);
    m_category->setObjectName(QStringLiteral("murmex-category"));
    m_category->setAccessibleName(MurmexStrings::text("murmex.feedback.category"));
    m_category->addItem(MurmexStrings::text("murmex.feedback.category.none"));
    for (const MurmexCategory category : allCategories)
        m_category->addItem(MurmexStrings::category(category), rawValue(category));
    fields->addRow(MurmexStrings::text("murmex.feedback.category"), m_category);
    m_email = new QLineEdit(form);
    m_email->setObjectName(QStringLiteral("murmex-email"));
    m_email->setPlaceholderText(MurmexStrings::text("murmex.feedback.email.placeholder"));
    m_email->setAccessibleName(MurmexStrings::text("murmex.feedback.email.placeholder"));
    fields->addRow(m_email);
    layout->addLayout(fields);

    m_message = new QPlainTextEdit(form);
    m_message->setObjectName(QStringLiteral("murmex-message"));
    m_message->setPlaceholderText(MurmexStrings::text("murmex.feedback.message.placeholder"));
    m_message->setAccessibleName(MurmexStrings::text("murmex.feedback.message.accessibilityLabel"));
    m_message->setTabChangesFocus(true);
    layout->addWidget(m_message, 1);
    m_error = errorLabel(form);
    layout->addWidget(m_error);

    auto* buttons = new QHBoxLayout;
    m_progress = new QProgressBar(form);
    m_progress->setRange(0, 0);
    m_progress->setMaximumWidth(80);
    m_progress->setAccessibleName(QStringLiteral("Sending"));
    m_progress->hide();
    m_send = primaryButton(MurmexStrings::text("murmex.feedback.send"), m_config.tintColor, form);
    m_send->setObjectName(QStringLiteral("murmex-send"));
    buttons->addStretch();
    buttons->addWidget(m_progress);
    buttons->addWidget(m_send);
    layout->addLayout(buttons);

    m_pages->addWidget(form);
    m_pages->addWidget(successPage(m_onDismiss, m_config.tintColor, this));
    connect(m_message, &QPlainTextEdit::textChanged, this, &MurmexView::update);
    connect(m_send, &QPushButton::clicked, this, [this] { send(); });
    update();
}

void MurmexView::update()
{
    m_send->setEnabled(!m_isSubmitting && !m_message->toPlainText().trimmed().isEmpty());
    m_progress->setVisible(m_isSubmitting);
}

QCoro::Task<> MurmexView::send()
{
    if (m_isSubmitting || m_message->toPlainText().trimmed().isEmpty())
        co_return;
    m_isSubmitting = true;
    m_error->hide();
    update();
    MurmexFeedback feedback;
    feedback.message = m_message->toPlainText().trimmed();
    if (const QString email = m_email->text().trimmed(); !email.isEmpty())
        feedback.email = email;
    feedback.category = categoryNamed(m_category->currentData().toString());
    QPointer<MurmexView> self(this);
    const QString failure = co_await submitted(std::move(feedback), "murmex.feedback.error.encoding");
    if (!self)
        co_return;
    m_isSubmitting = false;
    showOutcome(failure, m_pages, m_error);
    update();
}

const QString& MurmexSurveyQuestion::label() const
{
    return std::visit([](const auto& question) -> const QString& { return question.label; }, kind);
}

RatingRow::RatingRow(int max, std::function<void(std::optional<int>)> onSelect, std::optional<QColor> tint,
                     QWidget* parent)
    : QWidget(parent), m_onSelect(std::move(onSelect)), m_tint(std::move(tint))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (int value = 1; value <= max; ++value) {
        auto* button = new QPushButton(QString::number(value), this);
        button->setFixedSize(36, 36);
        button->setCheckable(true);
        button->setAccessibleName(QStringLiteral("%1 of %2").arg(value).arg(max));
        connect(button, &QPushButton::clicked, this, [this, value] {
            select(m_selected == value ? std::nullopt : std::optional(value));
        });
        m_buttons.push_back(button);
        layout->addWidget(button);
    }
    layout->addStretch();
    paint();
}

void RatingRow::select(std::optional<int> value)
{
    m_selected = value;
    paint();
    if (m_onSelect)
        m_onSelect(value);
}

void RatingRow::paint()
{
    const std::optional<int> value = m_selected;
    const QString selectedColour = m_tint ? m_tint->name() : palette().color(QPalette::Highlight).name();
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        const bool chosen = value == int(i) + 1;
        m_buttons[i]->setChecked(chosen);
        m_buttons[i]->setStyleSheet(chosen ? QStringLiteral("background: %1; color: white; border-radius: 8px;")
                                                 .arg(selectedColour)
                                           : QStringLiteral("background: rgba(128, 128, 128, 31); border-radius: 8px;"));
    }
}

MurmexSurveyView::MurmexSurveyView(MurmexConfig config, QString title, std::vector<MurmexSurveyQuestion> questions,
                                   std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), m_config(std::move(config)),
      m_title(title.isEmpty() ? MurmexStrings::text("murmex.survey.defaultTitle") : std::move(title)),
      m_questions(std::move(questions)), m_onDismiss(std::move(onDismiss))
{
    Murmex::configure(m_config);
    m_pages = new QStackedLayout(this);
    auto* form = new QWidget(this);
    auto* layout = new QVBoxLayout(form);
    auto* heading = new QLabel(m_title, form);
    heading->setStyleSheet(QStringLiteral("font-weight: bold;"));
    layout->addWidget(heading);
    for (const MurmexSurveyQuestion& question : m_questions) {
        const QString label = question.label();
        auto* caption = new QLabel(question.isRequired() ? label + QStringLiteral(" *") : label, form);
        if (question.isRequired())
            caption->setAccessibleDescription(MurmexStrings::text("murmex.survey.required.accessibilityLabel"));
        layout->addWidget(caption);
        const auto answer = [this, label](const QString& text) {
            m_answers[label] = text;
            update();
        };
        if (const auto* rating = std::get_if<MurmexSurveyQuestion::Rating>(&question.kind)) {
            auto* row = new RatingRow(
                rating->max, [answer](std::optional<int> v) { answer(v ? QString::number(*v) : QString()); },
                m_config.tintColor, form);
            row->setAccessibleName(label);
            layout->addWidget(row);
        } else if (const auto* choice = std::get_if<MurmexSurveyQuestion::Choice>(&question.kind)) {
            auto* picker = new QComboBox(form);
            picker->setAccessibleName(label);
            picker->addItem(MurmexStrings::text("murmex.survey.choice.placeholder"));
            picker->addItems(choice->options);
            connect(picker, &QComboBox::currentIndexChanged, form,
                    [picker, answer](int index) { answer(index > 0 ? picker->currentText() : QString()); });
            layout->addWidget(picker);
        } else {
            const auto& text = std::get<MurmexSurveyQuestion::Text>(question.kind);
            auto* field = new QLineEdit(form);
            field->setAccessibleName(label);
            field->setPlaceholderText(text.placeholder.isEmpty() ? MurmexStrings::text("murmex.survey.text.placeholder")
                                                                 : text.placeholder);
            connect(field, &QLineEdit::textChanged, form, answer);
            layout->addWidget(field);
        }
    }
    m_error = errorLabel(form);
    layout->addWidget(m_error);
    m_submit = primaryButton(MurmexStrings::text("murmex.survey.submit"), m_config.tintColor, form);
    m_submit->setObjectName(QStringLiteral("murmex-submit"));
    layout->addWidget(m_submit, 0, Qt::AlignRight);
    layout->addStretch();
    m_pages->addWidget(form);
    m_pages->addWidget(successPage(m_onDismiss, m_config.tintColor, this));
    connect(m_submit, &QPushButton::clicked, this, [this] { submit(); });
    update();
}

void MurmexSurveyView::update()
{
    const bool answered = std::all_of(m_questions.begin(), m_questions.end(), [this](const auto& question) {
        if (!question.isRequired())
            return true;
        const auto found = m_answers.find(question.label());
        return found != m_answers.end() && !found->second.isEmpty();
    });
    m_submit->setEnabled(answered && !m_isSubmitting);
}

QCoro::Task<> MurmexSurveyView::submit()
{
    if (m_isSubmitting)
        co_return;
    m_isSubmitting = true;
    m_error->hide();
    update();
    MurmexFeedback feedback;
    feedback.message = m_title;
    std::map<QString, QString> given;
    for (const auto& [label, answer] : m_answers)
        if (!answer.isEmpty())
            given[label] = answer;
    if (!given.empty())
        feedback.metadata = std::move(given);
    QPointer<MurmexSurveyView> self(this);
    const QString failure = co_await submitted(std::move(feedback), "murmex.survey.error.encoding");
    if (!self)
        co_return;
    m_isSubmitting = false;
    showOutcome(failure, m_pages, m_error);
    update();
}

}  // namespace murmex
