// SPDX-License-Identifier: MIT
#include "ui/sequence_dialog.h"
#include "ui/adapters.h"

#include "core/isrc.h"
#include "ui/brand.h"
#include "ui/widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
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

#include <set>

namespace pelorix::ui {

namespace {

const char* const kCountryKey = "seqCountry";
const char* const kRegistrantKey = "seqRegistrant";
const char* const kYearKey = "seqYear";
const char* const kStartKey = "seqStart";
const char* const kSkipCodedKey = "seqSkipCoded";

QLocale numberLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

std::optional<ISRC> firstCode(const QString& country, const QString& registrant,
                              const QString& year, int start) {
    return ISRC::fromParts(country.toStdString(), registrant.toStdString(), year.toStdString(),
                           start);
}

}  // namespace

QString SequenceDialog::defaultYear() {
    return QString::asprintf("%02d", QDate::currentDate().year() % 100);
}

QString SequenceDialog::preview(const QString& country, const QString& registrant,
                                const QString& year, int start, int n) {
    const QString dash = QStringLiteral("\u2014");
    const std::optional<ISRC> first = firstCode(country, registrant, year, start);
    if (!first) return dash;
    const QString head = QString::fromStdString(first->formatted());
    if (n <= 1) return head;
    const auto last = first->fits(n) ? first->advanced(n - 1) : std::nullopt;
    const QString tail = last ? QString::fromStdString(last->formatted()) : tr("overflow");
    return head + QStringLiteral("  \u2192  ") + tail;
}

std::optional<int> SequenceDialog::nextFree(const Model& model, const QString& country,
                                            const QString& registrant, const QString& year) {
    const auto base = firstCode(country, registrant, year, 0);
    if (!base) return std::nullopt;
    const std::string prefix = base->code().substr(0, 7);
    // The ledger's numbers count even when it cannot be read now: the assignment says why.
    std::set<int> given;
    Model::givenDesignations(prefix, given);
    int highest = given.empty() ? -1 : *given.rbegin();
    for (const Model::Item& item : model.items()) {
        for (const QString& text : {item.current.value_or(QString()), item.pending}) {
            const auto code = ISRC::parse(text.toStdString());
            if (code && code->code().compare(0, 7, prefix) == 0)
                highest = std::max(highest, code->designation());
        }
    }
    if (highest < 0 || highest >= ISRC::kLastDesignation) return std::nullopt;
    return highest + 1;
}

SequenceDialog::SequenceDialog(Model& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(tr("Assign a sequence of ISRC codes"));
    setWindowModality(Qt::WindowModal);

    // Defaults apply only while a key holds nothing, and are never written by themselves.
    QSettings stored = settings();
    // A new user starts with empty fields: no country is guessed for them.
    country_ = stored.value(kCountryKey, QString()).toString();
    registrant_ = stored.value(kRegistrantKey, QString()).toString();
    year_ = stored.value(kYearKey, defaultYear()).toString();
    bool ok = false;
    const int kept = stored.value(kStartKey, 1).toInt(&ok);
    start_ = ok ? kept : 1;
    if (const auto next = nextFree(model_, country_, registrant_, year_)) start_ = *next;

    auto* column = new QVBoxLayout(this);
    column->setSpacing(14);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSizeConstraint(QLayout::SetFixedSize);

    auto* title = new QLabel(tr("Assign a sequence of ISRC codes"), this);
    title->setFont(look::font(look::FontRole::title, font()));
    column->addWidget(title);

    explanation_ = new QLabel(tr("Codes are given to the files in the order of the list. The "
                                 "five-digit number goes up by one for each file."),
                              this);
    explanation_->setFont(look::font(look::FontRole::small, font()));
    explanation_->setWordWrap(true);
    column->addWidget(explanation_);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    auto addRow = [&](int row, const QString& label, const QString& text,
                      const QString& placeholder, const QString& hint, const QString& error) {
        auto* name = new QLabel(label, this);
        grid->addWidget(name, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
        auto* edit = new QLineEdit(text, this);
        edit->setPlaceholderText(placeholder);
        // Read out as the label and the hint; an example is no description.
        edit->setAccessibleName(QString(label).remove(QLatin1Char('&')));
        edit->setAccessibleDescription(hint);
        edit->setFixedWidth(70);
        name->setBuddy(edit);
        grid->addWidget(edit, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
        auto* hintLabel = new QLabel(hint, this);
        hintLabel->setFont(look::font(look::FontRole::smallest, font()));
        hints_ << hintLabel;
        grid->addWidget(hintLabel, row, 2, Qt::AlignLeft | Qt::AlignVCenter);
        // The error takes the hint's place while the field is wrong.
        auto* errorLabel = new QLabel(error, this);
        errorLabel->setFont(look::font(look::FontRole::smallest, font()));
        errorLabel->hide();
        fieldErrors_[row] = errorLabel;
        grid->addWidget(errorLabel, row, 2, Qt::AlignLeft | Qt::AlignVCenter);
        return edit;
    };
    countryEdit_ = addRow(0, tr("&Country"), country_, tr("FI"), tr("2 letters (ISO country code)"),
                          tr("Must be 2 letters"));
    registrantEdit_ =
        addRow(1, tr("&Registrant"), registrant_, tr("ABC"),
               tr("3 characters, given by your ISRC agency"), tr("Must be 3 letters or digits"));
    yearEdit_ = addRow(2, tr("&Year"), year_, tr("26"), tr("2 digits"), tr("Must be 2 digits"));
    const QString range = QStringLiteral("0\u2013%1").arg(ISRC::kLastDesignation);
    startEdit_ = addRow(3, tr("&First number"), numberLocale().toString(start_), tr("1"), range,
                        tr("Must be a number from %1").arg(range));
    grid->setColumnStretch(2, 1);
    column->addLayout(grid);

    // Every edit is stored at once, whether the user then assigns or cancels.
    auto bindText = [this](QLineEdit* edit, QString* field, const char* key) {
        connect(edit, &QLineEdit::textEdited, this, [this, field, key](const QString& text) {
            *field = text;
            settings().setValue(key, text);
            // A new country, registrant or year proposes its own next free number.
            if (const auto next = nextFree(model_, country_, registrant_, year_)) {
                start_ = *next;
                startValid_ = true;
                startEdit_->setText(numberLocale().toString(start_));
            }
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
        startValid_ = ok && value >= 0 && value <= ISRC::kLastDesignation;
        if (ok) {
            start_ = value;
            settings().setValue(kStartKey, value);
        }
        refresh();
    });
    connect(startEdit_, &QLineEdit::editingFinished, this, [this] {
        const QString shown = numberLocale().toString(start_);
        if (startEdit_->text() != shown) startEdit_->setText(shown);
        startValid_ = start_ >= 0 && start_ <= ISRC::kLastDesignation;
        refresh();
    });

    applyTo_ = new QWidget(this);
    auto* applyRow = new QHBoxLayout(applyTo_);
    applyRow->setContentsMargins(0, 0, 0, 0);
    applyRow->setSpacing(12);
    applyRow->addWidget(new QLabel(tr("Apply to"), applyTo_));
    allOption_ = new QRadioButton(applyTo_);
    selectedOption_ = new QRadioButton(applyTo_);
    auto* group = new QButtonGroup(applyTo_);
    group->addButton(allOption_);
    group->addButton(selectedOption_);
    // A selection is what the user means to number.
    const auto selected = model_.selection().size();
    if (selected > 0 && selected < model_.items().size()) {
        selectedOption_->setChecked(true);
    } else {
        allOption_->setChecked(true);
    }
    applyRow->addWidget(allOption_);
    applyRow->addWidget(selectedOption_);
    applyRow->addStretch(1);
    connect(selectedOption_, &QRadioButton::toggled, this, &SequenceDialog::refresh);
    column->addWidget(applyTo_);

    skipCoded_ = new QCheckBox(tr("&Skip files that already have a code"), this);
    skipCoded_->setChecked(stored.value(kSkipCodedKey, true).toBool());
    connect(skipCoded_, &QCheckBox::toggled, this, [this](bool on) {
        settings().setValue(kSkipCodedKey, on);
        refresh();
    });
    column->addWidget(skipCoded_);

    previewLabel_ = new QLabel(this);
    previewLabel_->setFont(look::monospaced(font()));
    previewLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    previewLabel_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    column->addWidget(previewLabel_);

    errorLabel_ = new QLabel(this);
    errorLabel_->setFont(look::font(look::FontRole::small, font()));
    errorLabel_->setWordWrap(true);
    errorLabel_->hide();
    column->addWidget(errorLabel_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancelButton_ = new QPushButton(tr("Cancel"), this);
    cancelButton_->setAutoDefault(false);
    assignButton_ = new QPushButton(tr("Assign"), this);
    // Return anywhere in the dialog presses the default button.
    assignButton_->setDefault(true);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(assignButton_);
    column->addLayout(buttons);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(assignButton_, &QPushButton::clicked, this, &SequenceDialog::assign);

    for (QWidget* w : {static_cast<QWidget*>(title), static_cast<QWidget*>(explanation_),
                       static_cast<QWidget*>(previewLabel_), static_cast<QWidget*>(errorLabel_)})
        w->setFixedWidth(480 - 40);

    connect(&model_, &Model::itemsChanged, this, &SequenceDialog::refresh);
    connect(&model_, &Model::selectionChanged, this, &SequenceDialog::refresh);
    applyLook();
    refresh();
}

Model::SequenceTargets SequenceDialog::targets() const {
    // A choice of selected files left over from a selection now gone means all files.
    const bool only = selectedOption_->isChecked() && !model_.selection().isEmpty();
    return {only, skipCoded_->isChecked()};
}

QString SequenceDialog::preview() const {
    if (!startValid_) return QStringLiteral("\u2014");
    // The codes the assignment would give: past the numbers given before, one per recording.
    QList<QPair<int, QString>> codes;
    if (!model_.planSequence(country_, registrant_, year_, start_, targets(), codes) &&
        !codes.isEmpty()) {
        // The lowest and the highest number handed out (codes kept by a recording aside).
        const QString prefix = preview(country_, registrant_, year_, 0, 1).left(10);
        QStringList numbered;
        for (const auto& [row, code] : codes) {
            if (code.startsWith(prefix)) numbered << code;
        }
        numbered.sort();
        if (!numbered.isEmpty()) {
            const QString head = numbered.front(), tail = numbered.back();
            return head == tail ? head : head + QStringLiteral("  \u2192  ") + tail;
        }
    }
    const int n = int(model_.sequenceRows(targets()).size());
    return preview(country_, registrant_, year_, start_, std::max(n, 1));
}

void SequenceDialog::assign() {
    if (!assignButton_->isEnabled()) return;
    error_ = model_.assignSequence(country_, registrant_, year_, start_, targets());
    if (!error_) {
        accept();
        return;
    }
    errorLabel_->setText(*error_);
    errorLabel_->show();
}

void SequenceDialog::refresh() {
    const int total = int(model_.items().size());
    const int selected = int(model_.selection().size());
    applyTo_->setVisible(selected > 0 && selected < total);
    allOption_->setText(tr("All %n file(s)", "", total));
    selectedOption_->setText(tr("%n selected file(s)", "", selected));
    previewLabel_->setText(preview());

    const bool formsCode = startValid_ && firstCode(country_, registrant_, year_, start_);
    // Only the joined text must form a code; a field is called wrong when the whole cannot,
    // and then only a field that has text and is wrong on its own.
    const bool wrong[] = {
        !ISRC::validPart(ISRC::Part::country, country_.toStdString()),
        !ISRC::validPart(ISRC::Part::registrant, registrant_.toStdString()),
        !ISRC::validPart(ISRC::Part::year, year_.toStdString()),
        !startValid_,
    };
    const QLineEdit* edits[] = {countryEdit_, registrantEdit_, yearEdit_, startEdit_};
    for (int i = 0; i < 4; ++i) {
        const bool show = !formsCode && wrong[i] && !edits[i]->text().isEmpty();
        fieldErrors_[i]->setVisible(show);
        hints_[i]->setVisible(!show);
    }
    assignButton_->setEnabled(formsCode);
}

void SequenceDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange ||
         event->type() == QEvent::ApplicationPaletteChange) &&
        !styling_)
        applyLook();
}

void SequenceDialog::applyLook() {
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
    QList<QLabel*> errors(std::begin(fieldErrors_), std::end(fieldErrors_));
    errors << errorLabel_;
    for (QLabel* label : errors) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, look::red(dark));
        label->setPalette(pal);
    }
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
