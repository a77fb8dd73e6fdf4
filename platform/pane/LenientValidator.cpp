#include "platform/pane/LenientValidator.h"

LenientValidator::LenientValidator(QValidator* inner, QObject* parent)
    : QValidator(parent), m_inner(inner)
{
    m_inner->setParent(this);
}

QValidator::State LenientValidator::validate(QString& input, int& position) const
{
    // No fixup either: a refused text stays exactly as typed.
    QString copy = input;
    int copyPosition = position;
    return m_inner->validate(copy, copyPosition) == Acceptable ? Acceptable : Intermediate;
}
