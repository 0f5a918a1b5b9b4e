#include "dialog/DialogFields.h"

#include "config/SettingFields.h"

#include <QLineEdit>

#include <algorithm>

std::optional<int> ParseInteger(const QString& text) { return ParseSettingInteger(text.trimmed().toStdString()); }

std::optional<FieldError> CheckInteger(QWidget* field, const QString& text, int min, int max, int& value) {
    const std::optional<int> parsed = ParseInteger(text);
    if (!parsed) return FieldError{field, QString::fromUtf8(INTEGER_MESSAGE)};
    if (*parsed < min || *parsed > max)
        return FieldError{field, QString::fromStdString(IntegerRangeMessage(min, max))};
    value = *parsed;
    return std::nullopt;
}

std::optional<FieldError> CheckSetting(QWidget* field, const QString& text, const char* setting, int& value) {
    const SettingField& rule = *FindSettingField(setting);
    return CheckInteger(field, text, rule.min, rule.max, value);
}

QValidator::State CByteLimitValidator::validate(QString& input, int&) const {
    return input.toUtf8().size() <= m_nMaxBytes ? Acceptable : Invalid;
}

void LimitBytes(QLineEdit* edit, int maxBytes) { edit->setValidator(new CByteLimitValidator(maxBytes, edit)); }

void LimitBytes(QLineEdit* edit, const char* setting) {
    LimitBytes(edit, static_cast<int>(FindSettingField(setting)->maxBytes));
}

void SetLimitedText(QLineEdit* edit, const std::string& text) {
    // A record filled in memory may hold more than the field accepts; show what fits.
    const auto* limit = dynamic_cast<const CByteLimitValidator*>(edit->validator());
    const std::string shown = limit ? CutUtf8(text, static_cast<std::size_t>(limit->MaxBytes())) : text;
    edit->setText(QString::fromStdString(shown));
    // Long texts show their beginning, as they do before any edit.
    edit->setCursorPosition(0);
}

CNumberField::CNumberField(int spinMin, int spinMax, QWidget* parent)
    : QAbstractSpinBox(parent), m_nSpinMin(spinMin), m_nSpinMax(spinMax) {
    setButtonSymbols(UpDownArrows);
    setKeyboardTracking(true);
    connect(lineEdit(), &QLineEdit::textChanged, this, &CNumberField::textChanged);
}

QString CNumberField::Text() const { return lineEdit()->text(); }

void CNumberField::SetText(const QString& text) { lineEdit()->setText(text); }

void CNumberField::stepBy(int steps) {
    // A text that is no number gives way to the bottom of the spin range.
    const std::optional<int> current = ParseInteger(Text());
    const long long next = current ? std::clamp<long long>(static_cast<long long>(*current) + steps, m_nSpinMin, m_nSpinMax)
                                   : m_nSpinMin;
    SetValue(static_cast<int>(next));
    selectAll();
}

QValidator::State CNumberField::validate(QString&, int&) const { return QValidator::Acceptable; }

QAbstractSpinBox::StepEnabled CNumberField::stepEnabled() const {
    const std::optional<int> current = ParseInteger(Text());
    if (!current) return StepUpEnabled | StepDownEnabled;
    StepEnabled enabled = StepNone;
    if (*current < m_nSpinMax) enabled |= StepUpEnabled;
    if (*current > m_nSpinMin) enabled |= StepDownEnabled;
    return enabled;
}
