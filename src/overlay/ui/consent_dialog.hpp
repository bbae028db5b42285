#pragma once
// The modal question put to the operator before a destructive action.

#include <QString>

#include <functional>

class QMessageBox;

namespace pavo::overlay {

inline constexpr const char* kConsentDialogTitle = "Destructive Action";
inline constexpr const char* kAllowButtonText = "Allow";
inline constexpr const char* kDenyButtonText = "Deny";

QString consentQuestion(const QString& action);

// Opens the dialog, application-modal, in front, with "Allow" as the default button, and returns at
// once. `answered` runs once on the GUI thread: granted only when "Allow" was pressed; closing the
// dialog any other way is a denial. The dialog deletes itself afterwards.
QMessageBox* openConsentDialog(const QString& action, std::function<void(bool granted)> answered);

}  // namespace pavo::overlay
