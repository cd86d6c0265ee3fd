// SPDX-License-Identifier: MIT
#include "ui/sequence_sheet.h"

#include "core/isrc.h"
#include "ui/brand.h"
#include "ui/widgets.h"

#include <QButtonGroup>
#include <QDate>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

namespace pelorix::ui {

namespace {

const char* const kCountryKey = "seqCountry";
const char* const kRegistrantKey = "seqRegistrant";
const char* const kYearKey = "seqYear";
const char* const kStartKey = "seqStart";

QSettings userDefaults() {
    return QSettings(QStringLiteral("PELORIX"), QStringLiteral("PELORIX"));
}

QLocale numberLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

}  // namespace

QString SequenceSheet::defaultYear() {
    return QString::asprintf("%02d", QDate::currentDate().year() % 100);
}

QString SequenceSheet::preview(const QString& country, const QString& registrant,
                               const QString& year, int start, int n) {
    const QString dash = QStringLiteral("\u2014");
    if (start < 0 || start > 99999) return dash;
    const QString text =
        country.toUpper() + registrant.toUpper() + year + QString::asprintf("%05d", start);
    const std::optional<ISRC> first = ISRC::parse(text.toStdString());
    if (!first) return dash;
    const QString head = QString::fromStdString(first->formatted());
    if (n <= 1) return head;
    const long long last = static_cast<long long>(first->designation()) + n - 1;
    QString tail = QStringLiteral("overflow");
    if (last <= 99999) {
        const std::string lastText =
            first->code().substr(0, 7) + QString::asprintf("%05d", int(last)).toStdString();
        if (const auto code = ISRC::parse(lastText))
            tail = QString::fromStdString(code->formatted());
    }
    return head + QStringLiteral("  \u2192  ") + tail;
}

SequenceSheet::SequenceSheet(Model& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(QStringLiteral("Assign a sequence of ISRC codes"));
    setWindowModality(Qt::WindowModal);

    // Defaults apply only while a key holds nothing, and are never written by themselves.
    QSettings settings = userDefaults();
    country_ = settings.value(kCountryKey, QStringLiteral("FI")).toString();
    registrant_ = settings.value(kRegistrantKey, QString()).toString();
    year_ = settings.value(kYearKey, defaultYear()).toString();
    bool ok = false;
    const int stored = settings.value(kStartKey, 1).toInt(&ok);
    start_ = ok ? stored : 1;

    auto* column = new QVBoxLayout(this);
    column->setSpacing(14);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSizeConstraint(QLayout::SetFixedSize);

    auto* title = new QLabel(QStringLiteral("Assign a sequence of ISRC codes"), this);
    QFont titleFont = look::font(look::TextStyle::title3, font());
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    column->addWidget(title);

    explanation_ = new QLabel(QStringLiteral("Codes are given to the files in list order. The "
                                             "five-digit number goes up by one for each file."),
                              this);
    explanation_->setFont(look::font(look::TextStyle::callout, font()));
    explanation_->setWordWrap(true);
    column->addWidget(explanation_);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    auto addRow = [&](int row, const QString& label, const QString& text,
                      const QString& placeholder, const QString& hint) {
        grid->addWidget(new QLabel(label, this), row, 0, Qt::AlignLeft | Qt::AlignVCenter);
        auto* edit = new QLineEdit(text, this);
        edit->setPlaceholderText(placeholder);
        edit->setFixedWidth(70);
        grid->addWidget(edit, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
        auto* hintLabel = new QLabel(hint, this);
        hintLabel->setFont(look::font(look::TextStyle::caption, font()));
        hints_ << hintLabel;
        grid->addWidget(hintLabel, row, 2, Qt::AlignLeft | Qt::AlignVCenter);
        return edit;
    };
    countryEdit_ = addRow(0, QStringLiteral("Country"), country_, QStringLiteral("FI"),
                          QStringLiteral("2 letters (ISO country code)"));
    registrantEdit_ = addRow(1, QStringLiteral("Registrant"), registrant_, QStringLiteral("ABC"),
                             QStringLiteral("3 characters, given by your ISRC agency"));
    yearEdit_ =
        addRow(2, QStringLiteral("Year"), year_, QStringLiteral("26"), QStringLiteral("2 digits"));
    startEdit_ = addRow(3, QStringLiteral("First number"), numberLocale().toString(start_),
                        QStringLiteral("1"), QStringLiteral("0\u201399999"));
    grid->setColumnStretch(2, 1);
    column->addLayout(grid);

    // Every edit is stored at once, whether the user then assigns or cancels.
    auto bindText = [this](QLineEdit* edit, QString* field, const char* key) {
        connect(edit, &QLineEdit::textEdited, this, [this, field, key](const QString& text) {
            *field = text;
            userDefaults().setValue(key, text);
            refresh();
        });
    };
    bindText(countryEdit_, &country_, kCountryKey);
    bindText(registrantEdit_, &registrant_, kRegistrantKey);
    bindText(yearEdit_, &year_, kYearKey);
    // The number changes only when the text reads as an integer in the user's locale; leaving
    // the field shows the number that is in force again.
    connect(startEdit_, &QLineEdit::textEdited, this, [this](const QString& text) {
        bool ok = false;
        const int value = numberLocale().toInt(text.trimmed(), &ok);
        if (!ok) return;
        start_ = value;
        userDefaults().setValue(kStartKey, value);
        refresh();
    });
    connect(startEdit_, &QLineEdit::editingFinished, this, [this] {
        const QString shown = numberLocale().toString(start_);
        if (startEdit_->text() != shown) startEdit_->setText(shown);
    });

    applyTo_ = new QWidget(this);
    auto* applyRow = new QHBoxLayout(applyTo_);
    applyRow->setContentsMargins(0, 0, 0, 0);
    applyRow->setSpacing(12);
    applyRow->addWidget(new QLabel(QStringLiteral("Apply to"), applyTo_));
    allOption_ = new QRadioButton(applyTo_);
    selectedOption_ = new QRadioButton(applyTo_);
    auto* group = new QButtonGroup(applyTo_);
    group->addButton(allOption_);
    group->addButton(selectedOption_);
    allOption_->setChecked(true);
    applyRow->addWidget(allOption_);
    applyRow->addWidget(selectedOption_);
    applyRow->addStretch(1);
    connect(selectedOption_, &QRadioButton::toggled, this, [this](bool on) {
        onlySelected_ = on;
        refresh();
    });
    column->addWidget(applyTo_);

    previewLabel_ = new QLabel(this);
    previewLabel_->setFont(look::monospaced(font()));
    previewLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    previewLabel_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    column->addWidget(previewLabel_);

    errorLabel_ = new QLabel(this);
    errorLabel_->setFont(look::font(look::TextStyle::callout, font()));
    errorLabel_->setWordWrap(true);
    errorLabel_->hide();
    column->addWidget(errorLabel_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setAutoDefault(false);
    assignButton_ = new QPushButton(QStringLiteral("Assign"), this);
    // Return anywhere in the sheet presses the default button.
    assignButton_->setDefault(true);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(assignButton_);
    column->addLayout(buttons);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(assignButton_, &QPushButton::clicked, this, &SequenceSheet::assign);

    // 480 wide on the reference desktop, whatever the content asks for.
    for (QWidget* w : {static_cast<QWidget*>(title), static_cast<QWidget*>(explanation_),
                       static_cast<QWidget*>(previewLabel_), static_cast<QWidget*>(errorLabel_)})
        w->setFixedWidth(480 - 40);

    connect(&model_, &Model::itemsChanged, this, &SequenceSheet::refresh);
    connect(&model_, &Model::selectionChanged, this, &SequenceSheet::refresh);
    applyLook();
    refresh();
}

QString SequenceSheet::preview() const {
    const int n = onlySelected_ ? int(model_.selection().size()) : int(model_.items().size());
    return preview(country_, registrant_, year_, start_, n);
}

void SequenceSheet::assign() {
    const bool only = onlySelected_ && !model_.selection().isEmpty();
    error_ = model_.assignSequence(country_, registrant_, year_, start_, only);
    if (!error_) {
        accept();
        return;
    }
    errorLabel_->setText(*error_);
    errorLabel_->show();
}

void SequenceSheet::refresh() {
    const int total = int(model_.items().size());
    const int selected = int(model_.selection().size());
    applyTo_->setVisible(selected > 0 && selected < total);
    allOption_->setText(QStringLiteral("All %1 files").arg(total));
    selectedOption_->setText(QStringLiteral("%1 selected files").arg(selected));
    previewLabel_->setText(preview());
}

void SequenceSheet::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange ||
         event->type() == QEvent::ApplicationPaletteChange) &&
        !styling_)
        applyLook();
}

void SequenceSheet::applyLook() {
    styling_ = true;
    const QPalette base = QGuiApplication::palette();
    const bool dark = isDarkPalette(base);
    const QColor secondary = look::secondary(base);
    QList<QLabel*> secondaryLabels = hints_;
    secondaryLabels << explanation_;
    for (QLabel* label : secondaryLabels) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, secondary);
        label->setPalette(pal);
    }
    QPalette errorPal = errorLabel_->palette();
    errorPal.setColor(QPalette::WindowText, look::red(dark));
    errorLabel_->setPalette(errorPal);
    // The preview box: the secondary colour at 12 % under the text, rounded by 6.
    QColor fill = look::secondary(base);
    fill.setAlphaF(fill.alphaF() * 0.12F);
    previewLabel_->setStyleSheet(QStringLiteral("QLabel { background: rgba(%1,%2,%3,%4);"
                                                " border-radius: 6px; padding: 8px; }")
                                     .arg(fill.red())
                                     .arg(fill.green())
                                     .arg(fill.blue())
                                     .arg(fill.alpha()));
    makeProminent(assignButton_, Brand::accent().resolve(dark), dark, false);
    styling_ = false;
}

}  // namespace pelorix::ui
