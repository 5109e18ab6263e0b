// QadddeviceDig lets the operator pick a camera found on the local network
// and log in to it. It searches when it opens, lists the cameras found, asks
// its owner to connect to the chosen one (sigAddDevice) with the saved
// account or "admin" and no password, and when the camera refuses the
// credentials offers a page to type them. The owner reports the login back
// through onSigLogin. GUI thread.
#pragma once

#include "device/Device.h"

#include <QString>
#include <QVector>
#include <QWidget>

class LocalDatabase;
class QLineEdit;
class QMovie;
class QTimer;
class QtipDig;
class Qdeciveoption;
class TitleBarDrag;

namespace Ui {
class QadddeviceDig;
}

class QadddeviceDig : public QWidget {
    Q_OBJECT

public:
    enum Page { NoPage = 0, SearchPage = 1, ListPage = 2, CredentialsPage = 3 };

    static constexpr int TipMs = 1500;
    static constexpr int FieldMaxLength = 29;
    // The camera's answers to a wrong user name or password.
    static constexpr int UnknownUser = 1011;
    static constexpr int WrongPassword = 1012;

    // Saved accounts are looked up in store, which may be null (no accounts).
    explicit QadddeviceDig(LocalDatabase* store, QWidget* parent = nullptr);
    ~QadddeviceDig() override;

    int page() const { return m_page; }
    const QVector<Qdeciveoption*>& rows() const { return m_rows; }

signals:
    // Connect to the camera with these credentials; the answer comes back
    // through onSigLogin.
    void sigAddDevice(int id, QString address, QString userName, QString password);

public slots:
    void onSigDevListChanged();
    void on_cancelbtn_clicked();
    void on_researchbtn_clicked();
    void on_definebtn_clicked();
    void showhide();
    void onSigLogin(int id, Device::LoginState state, int result);
    void pwdtextEdited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPage(int page);
    void showTip(const QString& text);
    void clearRows();
    void startSearch();
    void setUpField(QLineEdit* field);
    void selectRow(Qdeciveoption* row);
    Qdeciveoption* selectedRow() const;
    bool passwordShowsHint() const;
    void clearPasswordHint();

    Ui::QadddeviceDig* ui;
    LocalDatabase* m_store;
    QVector<Qdeciveoption*> m_rows;
    int m_page;
    TitleBarDrag* m_drag;
    QtipDig* m_tip;
    QTimer* m_tipTimer;
    QMovie* m_searching;
};
