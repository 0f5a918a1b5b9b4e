#pragma once
// Field types of the configuration pages: a number field with spin buttons whose typed
// value is checked only at commit, a validator that caps a text at a number of UTF-8
// bytes, and the result of checking a field.
#include <QAbstractSpinBox>
#include <QString>
#include <QValidator>

#include <optional>

class QLineEdit;
class QWidget;

// A field that failed its check at commit, and the message that says why.
struct FieldError {
    QWidget* field = nullptr;
    QString text;
};

// The integer a field holds: optional surrounding blanks, an optional sign and digits
// that fit an int. Anything else is not a number.
std::optional<int> ParseInteger(const QString& text);

// Checks one number field: its integer when it is one within min..max, else the error.
std::optional<FieldError> CheckInteger(QWidget* field, const QString& text, int min, int max, int& value);
// The same with the range of a setting of config/SettingFields.h, named as -set names it.
std::optional<FieldError> CheckSetting(QWidget* field, const QString& text, const char* setting, int& value);

// Refuses any input that would make the text longer than a number of UTF-8 bytes.
class CByteLimitValidator : public QValidator {
public:
    CByteLimitValidator(int maxBytes, QObject* parent) : QValidator(parent), m_nMaxBytes(maxBytes) {}
    State validate(QString& input, int& pos) const override;
    int MaxBytes() const { return m_nMaxBytes; }

private:
    int m_nMaxBytes;
};

// Gives a line edit its byte limit: a number, or that of a setting.
void LimitBytes(QLineEdit* edit, int maxBytes);
void LimitBytes(QLineEdit* edit, const char* setting);

// Shows `text` cut to the line edit's byte limit (without a limit, unchanged).
void SetLimitedText(QLineEdit* edit, const std::string& text);

// An edit field with spin buttons. Any text may be typed; the buttons step the value
// inside the spin range, and the owner checks the typed value when it commits.
class CNumberField : public QAbstractSpinBox {
    Q_OBJECT
public:
    CNumberField(int spinMin, int spinMax, QWidget* parent = nullptr);

    QString Text() const;
    void SetText(const QString& text);
    void SetValue(int value) { SetText(QString::number(value)); }

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

signals:
    void textChanged(const QString& text);

protected:
    StepEnabled stepEnabled() const override;

private:
    int m_nSpinMin;
    int m_nSpinMax;
};
