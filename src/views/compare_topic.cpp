#include "views/compare_topic.h"

#include "store/doctor_store.h"
#include "views/app_mixer_box.h"
#include "views/doctor_theme.h"
#include "views/troubleshoot_topics.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace sonorel {

using theme::qs;

namespace {

using Result = AppIsolation::Result;

// A numbered step: the badge, the title, and the step's controls under it.
QWidget* step(int number, QLabel* title, QWidget* controls, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* badge = new QLabel(QString::number(number), row);
    badge->setAccessibleName(QStringLiteral("Step %1").arg(number));
    badge->setAlignment(Qt::AlignCenter);
    badge->setFixedSize(26, 26);
    theme::setPointSize(badge, 9.5, QFont::DemiBold);
    badge->setStyleSheet(QStringLiteral("background: rgba(128, 128, 128, 60); border-radius: 13px;"));
    layout->addWidget(badge, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    theme::setPointSize(title, 10, QFont::DemiBold);
    title->setWordWrap(true);
    column->addWidget(title);
    column->addWidget(controls);
    layout->addLayout(column, 1);
    return row;
}

QComboBox* ratingPicker(const char* identifier, const QString& name, QWidget* parent)
{
    auto* picker = new QComboBox(parent);
    picker->setObjectName(QLatin1String(identifier));
    picker->setAccessibleName(name);
    for (const auto& [result, text] : isolationResultLabels)
        picker->addItem(qs(text), int(result));
    picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return picker;
}

// A picker with its question in front, as a form row.
QWidget* question(const QString& text, QWidget* field, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* form = new QFormLayout(box);
    form->setContentsMargins(0, 0, 0, 0);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->addRow(text, field);
    return box;
}

void showResult(QComboBox* picker, Result result)
{
    const QSignalBlocker quiet(picker);
    picker->setCurrentIndex(picker->findData(int(result)));
}

}  // namespace

CompareTopic::CompareTopic(DoctorStore& store, bool emphasized, QWidget* parent)
    : QWidget(parent), m_store(store), m_emphasized(emphasized)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(14);
    // The usual reason one app alone is silent comes first: its own mute, level or output.
    m_mixer = new AppMixerBox(store, emphasized, this);
    layout->addWidget(m_mixer);
    auto* lead = theme::label(QStringLiteral("Compare Doctor’s quiet tone with the app that sounds wrong, on the same output."),
                              this, theme::secondaryText(palette()), 9.5);
    lead->setWordWrap(true);
    layout->addWidget(lead);

    const auto rate = [this](Result AppIsolation::*field) {
        return [this, field](int index) {
            AppIsolation isolation = m_store.isolation();
            isolation.*field = Result(qobject_cast<QComboBox*>(sender())->itemData(index).toInt());
            m_store.setIsolation(std::move(isolation));
        };
    };

    auto* one = new QWidget(this);
    auto* oneLayout = new QVBoxLayout(one);
    oneLayout->setContentsMargins(0, 0, 0, 0);
    m_play = new TopicButton(QStringLiteral("Play Doctor’s quiet tone"), "reference-tone", one);
    connect(m_play, &QPushButton::clicked, this, [this] { m_store.playReferenceTone(); });
    oneLayout->addWidget(m_play, 0, Qt::AlignLeft);
    m_reference = ratingPicker("reference-result", QStringLiteral("How did it sound?"), one);
    connect(m_reference, &QComboBox::currentIndexChanged, this, rate(&AppIsolation::reference));
    oneLayout->addWidget(question(QStringLiteral("How did it sound?"), m_reference, one));
    m_stepOneTitle = new QLabel(this);
    layout->addWidget(step(1, m_stepOneTitle, one, this));

    auto* two = new QWidget(this);
    auto* twoLayout = new QVBoxLayout(two);
    twoLayout->setContentsMargins(0, 0, 0, 0);
    m_appName = new QLineEdit(two);
    m_appName->setObjectName(QStringLiteral("affected-app"));
    m_appName->setPlaceholderText(QStringLiteral("Affected app or website"));
    m_appName->setAccessibleName(QStringLiteral("Affected app or website"));
    m_appName->setMaximumWidth(360);
    connect(m_appName, &QLineEdit::textEdited, this, [this](const QString& text) {
        AppIsolation isolation = m_store.isolation();
        isolation.appName = text.toStdString();
        m_store.setIsolation(std::move(isolation));
    });
    twoLayout->addWidget(m_appName);
    m_affected = ratingPicker("affected-result", QStringLiteral("How did the app sound?"), two);
    connect(m_affected, &QComboBox::currentIndexChanged, this, rate(&AppIsolation::affected));
    twoLayout->addWidget(question(QStringLiteral("How did the app sound?"), m_affected, two));
    m_stepTwo = step(2, new QLabel(QStringLiteral("Play the same thing in the app that sounds wrong.")), two, this);
    layout->addWidget(m_stepTwo);

    auto* three = new QWidget(this);
    auto* threeLayout = new QVBoxLayout(three);
    threeLayout->setContentsMargins(0, 0, 0, 0);
    m_another = new QPushButton(QStringLiteral("Test another output"), three);
    m_another->setObjectName(QStringLiteral("test-another-output"));
    connect(m_another, &QPushButton::clicked, this, [this] { m_store.testAnotherOutput(); });
    threeLayout->addWidget(m_another, 0, Qt::AlignLeft);
    m_otherOutput = ratingPicker("other-output-result", QStringLiteral("How did the other output sound?"), three);
    connect(m_otherOutput, &QComboBox::currentIndexChanged, this, rate(&AppIsolation::otherOutput));
    threeLayout->addWidget(question(QStringLiteral("How did the other output sound?"), m_otherOutput, three));
    m_stepThree = step(3, new QLabel(QStringLiteral("Choose a different output in Devices, then play the tone there.")),
                       three, this);
    layout->addWidget(m_stepThree);

    m_guidance = theme::label({}, this, palette().color(QPalette::WindowText), 9.5);
    m_guidance->setObjectName(QStringLiteral("compare-guidance"));
    m_guidance->setWordWrap(true);
    m_guidance->setMaximumWidth(620);
    m_guidance->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    layout->addWidget(m_guidance);

    for (auto signal : {&DoctorStore::comparisonChanged, &DoctorStore::readingChanged, &DoctorStore::repairStateChanged})
        connect(&m_store, signal, this, &CompareTopic::refresh);
    refresh();
}

void CompareTopic::refresh()
{
    const AppIsolation& isolation = m_store.isolation();
    const AudioDevice* output = m_store.snapshot().outputDevice();
    const QString name = isolation.referenceOutputName ? qs(*isolation.referenceOutputName)
                         : output                      ? qs(output->name)
                                                       : QStringLiteral("the current output");
    m_stepOneTitle->setText(QStringLiteral("Play Doctor’s tone on ") + name + QLatin1Char('.'));
    const bool canPlay = !m_store.isFixing() && output;
    m_play->setEnabled(canPlay);
    m_play->setProminent(m_emphasized && isolation.reference == Result::notTested && !m_mixer->offersRepair());
    m_another->setEnabled(canPlay);
    showResult(m_reference, isolation.reference);
    showResult(m_affected, isolation.affected);
    showResult(m_otherOutput, isolation.otherOutput);
    if (m_appName->text() != qs(isolation.appName))
        m_appName->setText(qs(isolation.appName));

    const bool referenceRated = isolation.reference != Result::notTested;
    const bool affectedRated = isolation.affected != Result::notTested;
    const bool referenceWrong = isolation.reference == Result::faulty || isolation.reference == Result::silent;
    m_stepTwo->setVisible(referenceRated);
    m_stepThree->setVisible(referenceWrong && affectedRated);
    m_guidance->setVisible(referenceRated && affectedRated);
    m_guidance->setText(qs(isolation.guidance()));
}

}  // namespace sonorel
