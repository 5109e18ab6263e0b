// Qdeciveoption is one camera row of the add-device dialog's search list: it
// shows the camera's number and a selection marker, and carries the address
// and the account the dialog will log in with. GUI thread.
#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class Qdeciveoption;
}

class Qdeciveoption : public QWidget {
    Q_OBJECT

public:
    Qdeciveoption(int id, const QString& address, QWidget* parent = nullptr);
    ~Qdeciveoption() override;

    int id() const { return m_id; }
    QString address() const { return m_address; }
    QString userName() const { return m_userName; }
    QString password() const { return m_password; }
    void setAccount(const QString& userName, const QString& password);

    bool isSelected() const;
    void setSelected(bool selected);

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void paintInner(const char* colour);

    Ui::Qdeciveoption* ui;
    int m_id;
    QString m_address;
    QString m_userName;
    QString m_password;
};
