#include "overlay/ui/consent_dialog.hpp"

#include <QMessageBox>
#include <QPushButton>

namespace pavo::overlay {

QString consentQuestion(const QString& action) {
    return QStringLiteral("The agent wants to perform: ") + action + QStringLiteral("\n\nAllow this action?");
}

QMessageBox* openConsentDialog(const QString& action, std::function<void(bool granted)> answered) {
    auto* box = new QMessageBox();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("pavo-overlay"));
    box->setText(QString::fromUtf8(kConsentDialogTitle));
    box->setInformativeText(consentQuestion(action));
    QPushButton* allow = box->addButton(QString::fromUtf8(kAllowButtonText), QMessageBox::AcceptRole);
    box->addButton(QString::fromUtf8(kDenyButtonText), QMessageBox::RejectRole);
    box->setDefaultButton(allow);
    box->setWindowModality(Qt::ApplicationModal);
    // In front of other applications' windows, since the agent waits on the answer.
    box->setWindowFlag(Qt::WindowStaysOnTopHint);

    QObject::connect(box, &QMessageBox::finished, box, [box, allow, answered = std::move(answered)](int) {
        if (answered) answered(box->clickedButton() == allow);
    });
    box->open();
    box->raise();
    box->activateWindow();
    return box;
}

}  // namespace pavo::overlay
