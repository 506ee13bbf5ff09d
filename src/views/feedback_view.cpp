#include "views/feedback_view.h"

#include "feedback/murmex_feedback_sender.h"
#include "views/disclosure_button.h"
#include "views/doctor_theme.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

namespace sonorel {

namespace {

QLabel* wrapped(const QString& text, QWidget* parent, const QColor& colour, qreal points = -1, int weight = -1)
{
    auto* label = theme::label(text, parent, colour, points, weight);
    label->setWordWrap(true);
    return label;
}

QLabel* symbol(const char* name, const QColor& colour, int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(theme::symbolPixmap(name, colour, size, parent->devicePixelRatioF()));
    return label;
}

}  // namespace

DoctorFeedbackButton::DoctorFeedbackButton(FeedbackOpener open, bool unresolvedRepair, QWidget* parent)
    : QPushButton(QStringLiteral("Send feedback"), parent)
{
    setObjectName(QStringLiteral("send-feedback"));
    setIcon(theme::symbolIcon("bubble.left.and.bubble.right", palette().color(QPalette::ButtonText)));
    connect(this, &QPushButton::clicked, this, [open = std::move(open), unresolvedRepair] {
        if (open)
            open(unresolvedRepair);
    });
}

DoctorFeedbackView::DoctorFeedbackView(SupportFeedback& feedback, std::function<void()> dismiss, QWidget* parent)
    : QWidget(parent), m_feedback(feedback), m_dismiss(std::move(dismiss))
{
    FeedbackComposer& composer = m_feedback.composer();
    const QColor secondary = theme::secondaryText(palette());
    const QColor orange = theme::stateColor(CheckState::warning, palette());
    auto* layout = new QVBoxLayout(this);
    // The side margins are inside the form, so that its scroll bar runs along the window's edge.
    layout->setContentsMargins(0, 0, 0, 16);
    layout->setSpacing(14);

    m_form = new QWidget(this);
    auto* form = new QVBoxLayout(m_form);
    form->setContentsMargins(24, 22, 24, 0);
    form->setSpacing(10);
    m_heading = new QLabel(m_form);
    m_heading->setObjectName(QStringLiteral("feedback-heading"));
    theme::setPointSize(m_heading, 14, QFont::DemiBold);
    form->addWidget(m_heading);
    form->addWidget(wrapped(QStringLiteral("Tell us what you hear and what you tried. Your feedback helps improve this "
                                           "free app."),
                            m_form, secondary));
    // Said before anything is typed: this build has nowhere to send to.
    m_noService = wrapped({}, m_form, palette().color(QPalette::WindowText));
    m_noService->setObjectName(QStringLiteral("feedback-no-service"));
    form->addWidget(m_noService);

    form->addSpacing(4);
    form->addWidget(new QLabel(QStringLiteral("What’s this about?"), m_form));
    auto* categories = new QWidget(m_form);
    categories->setObjectName(QStringLiteral("feedback-category"));
    categories->setAccessibleName(QStringLiteral("Feedback category"));
    auto* categoryRow = new QHBoxLayout(categories);
    categoryRow->setContentsMargins(0, 0, 0, 0);
    categoryRow->setSpacing(0);
    m_category = new QButtonGroup(categories);
    for (const auto& [category, title] : {std::pair{FeedbackCategory::bug, "Problem"},
                                          std::pair{FeedbackCategory::idea, "Idea"},
                                          std::pair{FeedbackCategory::general, "Other"}}) {
        auto* segment = new QPushButton(QLatin1String(title), categories);
        segment->setCheckable(true);
        segment->setMinimumWidth(90);
        m_category->addButton(segment, int(category));
        categoryRow->addWidget(segment);
    }
    categoryRow->addStretch();
    categories->setStyleSheet(QStringLiteral("QPushButton:checked { background: palette(highlight);"
                                             " color: palette(highlighted-text); border: 1px solid palette(highlight); }"));
    connect(m_category, &QButtonGroup::idClicked, this,
            [this](int id) { m_feedback.composer().setCategory(FeedbackCategory(id)); });
    form->addWidget(categories);

    form->addSpacing(4);
    m_messageLabel = new QLabel(m_form);
    form->addWidget(m_messageLabel);
    m_message = new QPlainTextEdit(m_form);
    m_message->setObjectName(QStringLiteral("feedback-message"));
    m_message->setAccessibleName(QStringLiteral("Feedback message"));
    m_message->setTabChangesFocus(true);
    m_message->setMinimumHeight(m_message->fontMetrics().lineSpacing() * 8 + 2 * m_message->frameWidth());
    m_messageLabel->setBuddy(m_message);
    connect(m_message, &QPlainTextEdit::textChanged, this,
            [this] { m_feedback.composer().setMessage(m_message->toPlainText()); });
    form->addWidget(m_message, 1);
    m_counter = theme::label({}, m_form, secondary, 8.5);
    m_counter->setObjectName(QStringLiteral("feedback-counter"));
    m_counter->setAlignment(Qt::AlignRight);
    form->addWidget(m_counter);

    auto* emailLabel = new QLabel(QStringLiteral("So we can follow up"), m_form);
    form->addWidget(emailLabel);
    m_email = new QLineEdit(m_form);
    m_email->setObjectName(QStringLiteral("feedback-email"));
    m_email->setPlaceholderText(QStringLiteral("Email, optional"));
    m_email->setAccessibleName(QStringLiteral("Email, optional"));
    emailLabel->setBuddy(m_email);
    connect(m_email, &QLineEdit::textEdited, this, [this](const QString& text) { m_feedback.composer().setEmail(text); });
    form->addWidget(m_email);
    m_emailHint = wrapped(QStringLiteral("Enter an email address, or leave this blank."), m_form, orange, 8.5);
    m_emailHint->setObjectName(QStringLiteral("feedback-email-hint"));
    form->addWidget(m_emailHint);

    m_includeSummary = new QCheckBox(QStringLiteral("Include audio summary"), m_form);
    m_includeSummary->setObjectName(QStringLiteral("feedback-include-summary"));
    connect(m_includeSummary, &QCheckBox::toggled, this,
            [this](bool on) { m_feedback.composer().setIncludeDiagnostics(on); });
    form->addWidget(m_includeSummary);
    form->addWidget(wrapped(QStringLiteral("Settings only. No audio recordings, device names, or running-app names."),
                            m_form, secondary, 8.5));
    m_reviewSummary = new DisclosureButton(QStringLiteral("Review audio summary"), m_form);
    m_reviewSummary->setObjectName(QStringLiteral("feedback-summary"));
    form->addWidget(m_reviewSummary);
    m_summary = new QLabel(m_form);
    m_summary->setObjectName(QStringLiteral("feedback-summary-text"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(8.5);
    m_summary->setFont(mono);
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->hide();
    form->addWidget(m_summary);
    connect(m_reviewSummary, &DisclosureButton::openChanged, m_summary, &QLabel::setVisible);

    m_error = new QFrame(m_form);
    m_error->setObjectName(QStringLiteral("feedback-error"));
    auto* errorRow = new QHBoxLayout(m_error);
    errorRow->setContentsMargins(0, 4, 0, 4);
    errorRow->addWidget(symbol("exclamationmark.circle", orange, 18, m_error), 0, Qt::AlignTop);
    auto* errorColumn = new QVBoxLayout;
    m_errorText = wrapped({}, m_error, palette().color(QPalette::WindowText));
    m_errorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errorColumn->addWidget(m_errorText);
    auto* errorActions = new QHBoxLayout;
    auto* copy = new QPushButton(QStringLiteral("Copy message"), m_error);
    copy->setObjectName(QStringLiteral("feedback-copy"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_feedback.composer().finalMessage()); });
    errorActions->addWidget(copy);
    m_emailSupport = new QLabel(m_error);
    m_emailSupport->setObjectName(QStringLiteral("feedback-email-support"));
    m_emailSupport->setOpenExternalLinks(true);
    m_emailSupport->setTextInteractionFlags(Qt::TextBrowserInteraction);
    errorActions->addWidget(m_emailSupport);
    errorActions->addStretch();
    errorColumn->addLayout(errorActions);
    errorRow->addLayout(errorColumn, 1);
    form->addWidget(m_error);

    m_sendsText = wrapped(QStringLiteral("Sends your message, category, optional email, and app and system versions "
                                         "to MurmexKit. The audio summary is included only if you choose it."),
                          m_form, secondary, 8.5);
    form->addWidget(m_sendsText);
    // The form scrolls rather than squeezes its texts on a short screen or with the summary open.
    m_formArea = new QScrollArea(this);
    m_formArea->setWidget(m_form);
    m_formArea->setWidgetResizable(true);
    m_formArea->setFrameShape(QFrame::NoFrame);
    m_formArea->setFocusPolicy(Qt::NoFocus);  // it scrolls to the control that has focus
    layout->addWidget(m_formArea, 1);

    m_confirmation = new QWidget(this);
    m_confirmation->setObjectName(QStringLiteral("feedback-confirmation"));
    auto* thanks = new QVBoxLayout(m_confirmation);
    thanks->addStretch();
    thanks->addWidget(symbol("checkmark.bubble.fill", theme::doctorGreen, 48, m_confirmation), 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("Thanks for helping."), m_confirmation);
    theme::setPointSize(title, 14, QFont::DemiBold);
    thanks->addWidget(title, 0, Qt::AlignHCenter);
    thanks->addWidget(new QLabel(QStringLiteral("Your feedback reached our support inbox."), m_confirmation), 0,
                      Qt::AlignHCenter);
    thanks->addWidget(theme::label(QStringLiteral("Every report helps us make audio fixes better for everyone."),
                                   m_confirmation, secondary),
                      0, Qt::AlignHCenter);
    thanks->addStretch();
    layout->addWidget(m_confirmation, 1);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(24, 0, 24, 0);
    m_powered = new QWidget(this);
    auto* powered = new QHBoxLayout(m_powered);
    powered->setContentsMargins(0, 0, 0, 0);
    powered->setSpacing(4);
    powered->addWidget(symbol("bubble.left.and.bubble.right", secondary, 14, m_powered));
    powered->addWidget(theme::label(QStringLiteral("Powered by MurmexKit"), m_powered, secondary, 8.5));
    footer->addWidget(m_powered);
    footer->addStretch();
    m_sending = new QProgressBar(this);
    m_sending->setRange(0, 0);
    m_sending->setMaximumWidth(60);
    m_sending->setMaximumHeight(8);
    m_sending->setAccessibleName(QStringLiteral("Sending"));
    footer->addWidget(m_sending);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("feedback-close"));
    connect(m_close, &QPushButton::clicked, this, [this] {
        m_feedback.composer().cancel();
        if (m_dismiss)
            m_dismiss();
    });
    footer->addWidget(m_close);
    m_send = new QPushButton(QStringLiteral("Send feedback"), this);
    m_send->setObjectName(QStringLiteral("feedback-send"));
    m_send->setToolTip(QStringLiteral("Send feedback (Ctrl+Return)"));
    theme::makePrimary(m_send);
    m_send->setMinimumWidth(m_send->sizeHint().width());
    connect(m_send, &QPushButton::clicked, this, [this] {
        if (m_feedback.composer().canSend())
            m_feedback.composer().send();
    });
    footer->addWidget(m_send);
    // Without a service the message leaves by the clipboard or the mail app.
    m_mailSupport = new QPushButton(QStringLiteral("Email support"), this);
    m_mailSupport->setObjectName(QStringLiteral("feedback-mail-support"));
    connect(m_mailSupport, &QPushButton::clicked, this, [this] {
        const FeedbackComposer& written = m_feedback.composer();
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("subject"), QStringLiteral("Sonorel Doctor feedback"));
        query.addQueryItem(QStringLiteral("body"), written.finalMessage());
        QUrl mail(QStringLiteral("mailto:") + written.supportAddress());
        mail.setQuery(query);
        QDesktopServices::openUrl(mail);
    });
    footer->addWidget(m_mailSupport);
    m_copyMessage = new QPushButton(QStringLiteral("Copy message"), this);
    m_copyMessage->setObjectName(QStringLiteral("feedback-copy-message"));
    theme::makePrimary(m_copyMessage);
    m_copied = new QTimer(this);
    m_copied->setSingleShot(true);
    m_copied->setInterval(2000);
    connect(m_copied, &QTimer::timeout, this, &DoctorFeedbackView::refresh);
    connect(m_copyMessage, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_feedback.composer().finalMessage());
        m_copied->start();
        refresh();
    });
    footer->addWidget(m_copyMessage);
    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setObjectName(QStringLiteral("feedback-done"));
    m_done->setDefault(true);
    connect(m_done, &QPushButton::clicked, this, [this] {
        if (m_dismiss)
            m_dismiss();
    });
    footer->addWidget(m_done);
    layout->addLayout(footer);

    auto* sendShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
    connect(sendShortcut, &QShortcut::activated, m_send, &QPushButton::click);
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(cancel, &QShortcut::activated, this, [this] {
        if (m_close->isVisible())
            m_close->click();
        else if (m_done->isVisible())
            m_done->click();
    });

    connect(&composer, &FeedbackComposer::changed, this, &DoctorFeedbackView::refresh);
    connect(&composer, &FeedbackComposer::announcement, this, [this](const QString& text) {
        // Spoken at once: the outcome replaces the control that had focus.
        setAccessibleDescription(text);
        if (QAccessible::isActive()) {
            QAccessibleEvent event(this, QAccessible::Alert);
            QAccessible::updateAccessibility(&event);
        }
    });
    refresh();
}

void DoctorFeedbackView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_feedback.composer().context() && !m_feedback.isPreparing())
        m_feedback.prepareFeedback(false);
    // Focus starts at the top of the form, so that Tab walks it in reading order.
    if (m_feedback.composer().phase() == FeedbackComposer::Phase::editing)
        if (QAbstractButton* category = m_category->checkedButton())
            category->setFocus();
}

void DoctorFeedbackView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // The window closed by its frame is closed too; a minimised one (a spontaneous hide) still sends.
    if (!event->spontaneous())
        m_feedback.composer().cancel();
}

void DoctorFeedbackView::refresh()
{
    const FeedbackComposer& composer = m_feedback.composer();
    const bool sent = composer.phase() == FeedbackComposer::Phase::sent;
    const bool sending = composer.phase() == FeedbackComposer::Phase::sending;
    m_formArea->setVisible(!sent);
    m_confirmation->setVisible(sent);
    m_close->setVisible(!sent);
    const bool deliver = composer.canDeliver();
    m_send->setVisible(!sent && deliver);
    m_sendsText->setVisible(deliver);
    m_powered->setVisible(deliver);
    m_noService->setVisible(!deliver);
    m_noService->setText(
        composer.supportAddress().isEmpty()
            ? QStringLiteral("Feedback can’t be sent from this copy of Sonorel Doctor. Write your message here and "
                             "copy it to keep it.")
            : QStringLiteral("Feedback can’t be sent from this copy of Sonorel Doctor. Write your message here, then "
                             "copy it or email it to %1.")
                  .arg(composer.supportAddress()));
    m_mailSupport->setVisible(!deliver && !composer.supportAddress().isEmpty());
    m_copyMessage->setVisible(!deliver);
    const bool copied = m_copied->isActive();
    m_copyMessage->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Copy message"));
    theme::showSymbol(m_copyMessage, copied ? "checkmark" : "doc.on.doc", palette().color(QPalette::ButtonText));
    m_copyMessage->setEnabled(!composer.message().trimmed().isEmpty());
    m_mailSupport->setEnabled(!composer.message().trimmed().isEmpty());
    m_done->setVisible(sent);
    m_sending->setVisible(sending);

    const auto& context = composer.context();
    m_heading->setText(context && context->unresolvedRepair ? QStringLiteral("Still not sounding right?")
                                                            : QStringLiteral("Help Doctor get better."));
    if (QAbstractButton* segment = m_category->button(int(composer.category())))
        segment->setChecked(true);
    const bool idea = composer.category() == FeedbackCategory::idea;
    m_messageLabel->setText(idea ? QStringLiteral("What would make Doctor better?") : QStringLiteral("What happened?"));
    m_message->setPlaceholderText(idea ? QStringLiteral("Tell us your idea…")
                                       : QStringLiteral("What do you hear, which headphones or speakers are you using, "
                                                        "and what have you tried?"));
    if (m_message->toPlainText() != composer.message())
        m_message->setPlainText(composer.message());
    if (m_email->text() != composer.email())
        m_email->setText(composer.email());

    const int length = composer.messageLength();
    m_counter->setVisible(length > FeedbackComposer::counterShownAbove);
    m_counter->setText(QStringLiteral("%1 / %2 characters").arg(length).arg(FeedbackComposer::maximumLength));
    QPalette counterPalette = m_counter->palette();
    counterPalette.setColor(QPalette::WindowText, length > FeedbackComposer::maximumLength
                                                      ? theme::stateColor(CheckState::warning, palette())
                                                      : theme::secondaryText(palette()));
    m_counter->setPalette(counterPalette);
    m_emailHint->setVisible(!composer.isEmailValid());

    {
        const QSignalBlocker quiet(m_includeSummary);
        m_includeSummary->setChecked(composer.includeDiagnostics());
    }
    m_summary->setText(context ? context->summary : QString());

    const auto& error = composer.errorMessage();
    m_error->setVisible(error.has_value());
    m_errorText->setText(error.value_or(QString()));
    const QString address = composer.supportAddress();
    m_emailSupport->setVisible(!address.isEmpty());
    m_emailSupport->setText(QStringLiteral("<a href=\"mailto:%1\">Email support</a>").arg(address.toHtmlEscaped()));

    m_send->setEnabled(composer.canSend());
    m_send->setText(sending ? QStringLiteral("Sending…") : QStringLiteral("Send feedback"));
    m_form->setEnabled(!sending);
}

std::unique_ptr<QWidget> makeFeedbackWindow(SupportFeedback& feedback)
{
    auto window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("feedback"));
    window->setWindowTitle(QStringLiteral("Send Feedback"));
    window->setWindowIcon(theme::appIcon());
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* shown = window.get();
    layout->addWidget(new DoctorFeedbackView(feedback, [shown] { shown->close(); }, shown));
    theme::resizeWithinScreen(shown, {560, 760});
    return window;
}

}  // namespace sonorel
