#include "platform/pane/Binding.h"

#include "platform/pane/PreferencePane.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <limits>

namespace {

// Enough digits to show every float exactly as typed, without the noise of its double form.
constexpr int kFloatDigits = std::numeric_limits<float>::digits10 + 1;

QString textOf(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Float:
        return QLocale::c().toString(double(value.toFloat()), 'g', kFloatDigits);
    case QMetaType::Double:
        return QLocale::c().toString(value.toDouble(), 'g', std::numeric_limits<double>::digits10);
    default:
        return value.toString();
    }
}

// The typed text as a value of the property's type; null when it does not convert.
QVariant valueOfText(const QString& text, QMetaType type)
{
    const QString trimmed = text.trimmed();
    const QLocale c = QLocale::c();
    bool ok = false;
    QVariant value;
    switch (type.id()) {
    case QMetaType::Int:
        value = c.toInt(trimmed, &ok);
        break;
    case QMetaType::LongLong:
        value = c.toLongLong(trimmed, &ok);
        break;
    case QMetaType::Float:
        value = c.toFloat(trimmed, &ok);
        break;
    case QMetaType::Double:
        value = c.toDouble(trimmed, &ok);
        break;
    case QMetaType::QString:
        return text;
    default:
        return {};
    }
    return ok ? value : QVariant{};
}

int comboIndexOfTag(const QComboBox* comboBox, int tag)
{
    for (int index = 0; index < comboBox->count(); ++index) {
        bool isNumber = false;
        if (comboBox->itemData(index).toInt(&isNumber) == tag && isNumber)
            return index;
    }
    return -1;
}

bool isEnterKey(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

Binding* Binding::bind(QWidget* control, const QString& binding, PreferencePane* pane,
                       const QString& keyPath)
{
    if (!control || !pane)
        return nullptr;
    const QMetaObject* meta = pane->metaObject();
    const int index = meta->indexOfProperty(keyPath.toLatin1().constData());
    if (index < 0) {
        qWarning("Binding: %s has no property %s", meta->className(), qPrintable(keyPath));
        return nullptr;
    }

    auto* button = qobject_cast<QAbstractButton*>(control);
    auto* lineEdit = qobject_cast<QLineEdit*>(control);
    auto* comboBox = qobject_cast<QComboBox*>(control);
    const bool isValue = binding == QLatin1String("value");
    const bool isSelectedTag = binding == QLatin1String("selectedTag");
    if (!(isValue && button && button->isCheckable()) && !(isValue && lineEdit) &&
        !(isSelectedTag && comboBox)) {
        qWarning("Binding: %s cannot bind \"%s\" on %s", control->metaObject()->className(),
                 qPrintable(binding), qPrintable(control->objectName()));
        return nullptr;
    }

    auto* result = new Binding(control, pane, meta->property(index));
    if (lineEdit)
        result->connectLineEdit(lineEdit);
    else if (comboBox)
        result->connectComboBox(comboBox);
    else
        result->connectCheckBox(button);
    connect(pane, &PreferencePane::didChangeValue, result, &Binding::onValueDidChange);
    result->showValue();
    return result;
}

Binding::Binding(QWidget* control, PreferencePane* pane, const QMetaProperty& property)
    : QObject(control), m_control(control), m_pane(pane), m_property(property)
{}

void Binding::connectCheckBox(QAbstractButton* button)
{
    // clicked comes from the user only, never from showValue's setChecked.
    connect(button, &QAbstractButton::clicked, this, [this](bool checked) { storeValue(checked); });
}

void Binding::connectLineEdit(QLineEdit* lineEdit)
{
    connect(lineEdit, &QLineEdit::editingFinished, this, &Binding::commitLineEdit);
    lineEdit->installEventFilter(this);
}

void Binding::connectComboBox(QComboBox* comboBox)
{
    connect(comboBox, &QComboBox::activated, this,
            [this, comboBox](int index) { storeValue(comboBox->itemData(index).toInt()); });
}

bool Binding::eventFilter(QObject* watched, QEvent* event)
{
    // The line edit reports no end of editing for text its validator does not accept: refuse
    // it here, so that leaving the field never leaves an unstored text looking stored.
    auto* lineEdit = qobject_cast<QLineEdit*>(watched);
    if (lineEdit && !lineEdit->hasAcceptableInput()) {
        if (event->type() == QEvent::FocusOut) {
            refuseLineEdit(lineEdit);
        } else if (isEnterKey(event)) {
            refuseLineEdit(lineEdit);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void Binding::onValueDidChange(const QString& key)
{
    if (key == QLatin1String(m_property.name()))
        showValue();
}

void Binding::showValue()
{
    if (!m_control || !m_pane)
        return;
    const QVariant value = m_property.read(m_pane);
    if (auto* lineEdit = qobject_cast<QLineEdit*>(m_control)) {
        // Text the user is still typing stays; it is handed over when the edit ends. Refused
        // text stays too, unless the stored value itself changed meanwhile.
        if (lineEdit->hasFocus() && lineEdit->isModified())
            return;
        if (m_inputRefused && value == m_shownValue)
            return;
        setInputRefused(false);
        lineEdit->setText(textOf(value));
        lineEdit->setModified(false);
    } else if (auto* comboBox = qobject_cast<QComboBox*>(m_control)) {
        comboBox->setCurrentIndex(comboIndexOfTag(comboBox, value.toInt()));
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_control)) {
        button->setChecked(value.toBool());
    }
    m_shownValue = value;
}

void Binding::showStoredValue()
{
    setInputRefused(false);
    if (auto* lineEdit = qobject_cast<QLineEdit*>(m_control))
        lineEdit->setModified(false);
    showValue();
}

void Binding::storeValue(const QVariant& value)
{
    if (m_pane)
        m_property.write(m_pane, value);
}

void Binding::refuseLineEdit(QLineEdit* lineEdit)
{
    lineEdit->setModified(false);
    setInputRefused(true);
}

void Binding::setInputRefused(bool refused)
{
    if (refused == m_inputRefused)
        return;
    m_inputRefused = refused;
    if (m_control)
        m_control->setStyleSheet(
            refused ? QStringLiteral("QLineEdit { border: 2px solid #c62828; }") : QString());
    emit inputRefusedChanged(refused);
}

void Binding::commitLineEdit()
{
    auto* lineEdit = qobject_cast<QLineEdit*>(m_control);
    if (!lineEdit || !lineEdit->isModified())
        return;
    const QVariant value = valueOfText(lineEdit->text(), m_property.metaType());
    if (!value.isValid()) {
        refuseLineEdit(lineEdit);
        return;
    }
    lineEdit->setModified(false);
    setInputRefused(false);
    storeValue(value);
}
