#pragma once
#include <memory>
#include <string>

namespace hw {

enum class BoxIcon { None, Information, Error };
enum class BoxButtons { Ok, OkCancel };
// Cancel also when the box was closed without a button.
enum class BoxAnswer { Ok, Cancel };

struct BoxRequest {
  std::string title;
  std::string text;
  BoxIcon icon = BoxIcon::Information;
  BoxButtons buttons = BoxButtons::Ok;
};

// Every message box of the program goes through this seam, so tests can answer boxes instead of
// blocking on them.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual BoxAnswer Show(const BoxRequest& request) = 0;
};

// The boxes in use; real dialogs unless a test or HOSTWARDEN_TEST_TRACE installed others.
MessageBoxes& Boxes();
// The real boxes: modal dialogs a person answers.
std::unique_ptr<MessageBoxes> MakeDialogBoxes();
// Installs other boxes (tests); returns the previous ones so a test can put them back.
std::unique_ptr<MessageBoxes> SetBoxes(std::unique_ptr<MessageBoxes> boxes);

// The box the start-up shows for a missing file or machine identity: "Information", one OK button.
void ShowInformation(const std::string& text);

}  // namespace hw
