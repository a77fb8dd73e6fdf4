#pragma once

#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QString>

class PreferencePane;
class QAbstractButton;
class QComboBox;
class QLineEdit;
class QWidget;

// A two-way tie between one control and one Qt property of a pane: the control shows the
// property's getter when the binding is made and again whenever the pane announces the
// property with didChangeValueForKey; each user edit goes to the property's setter.
//
//   "value" on a checkable button: checked state <-> bool
//   "value" on a line edit: text <-> number (or string); the edit is handed over when it
//       ends (Enter or leaving the field). Text that the field's validator does not accept,
//       or that does not convert, is refused: nothing is stored, the text stays on view in a
//       red frame and inputRefusedChanged(true) is emitted, until an accepted edit, a change
//       of the stored value or showStoredValue() replaces it.
//   "selectedTag" on a combo box: the item whose data (its tag) equals the value is shown;
//       choosing an item stores its tag.
//
// The binding is a child of the control and ends with it.
class Binding : public QObject
{
    Q_OBJECT
public:
    // Null (with a warning) when the control, the binding name or the property is unknown.
    static Binding* bind(QWidget* control, const QString& binding, PreferencePane* pane,
                         const QString& keyPath);

    bool eventFilter(QObject* watched, QEvent* event) override;

    QWidget* control() const { return m_control; }
    bool isInputRefused() const { return m_inputRefused; }
    // Shows the stored value, also over refused text.
    void showStoredValue();

signals:
    void inputRefusedChanged(bool refused);

private:
    Binding(QWidget* control, PreferencePane* pane, const QMetaProperty& property);

    void connectCheckBox(QAbstractButton* button);
    void connectLineEdit(QLineEdit* lineEdit);
    void connectComboBox(QComboBox* comboBox);

    void onValueDidChange(const QString& key);
    void showValue();
    void storeValue(const QVariant& value);
    void refuseLineEdit(QLineEdit* lineEdit);
    void setInputRefused(bool refused);
    void commitLineEdit();

    QPointer<QWidget> m_control;
    QPointer<PreferencePane> m_pane;
    QMetaProperty m_property;
    QVariant m_shownValue;
    bool m_inputRefused = false;
};
