#pragma once

#include <QValidator>

// Wraps a validator so that it never refuses a keystroke: text the inner validator calls
// Invalid counts as Intermediate. The field then keeps what the user typed ("abc", "70000"),
// its hasAcceptableInput() says false, and whoever reads the field can show the refusal
// instead of the text silently disappearing. The wrapper owns the inner validator.
class LenientValidator : public QValidator
{
    Q_OBJECT
public:
    LenientValidator(QValidator* inner, QObject* parent);

    State validate(QString& input, int& position) const override;

private:
    QValidator* m_inner;
};
