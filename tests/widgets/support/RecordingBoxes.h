#pragma once
#include <vector>

#include "shell/MessageBoxes.h"

// Answers every message box at once and keeps what was shown, for the life of one test.
class RecordingBoxes {
 public:
  RecordingBoxes() : previous_(hw::SetBoxes(std::make_unique<Recorder>(this))) {}
  ~RecordingBoxes() { hw::SetBoxes(std::move(previous_)); }

  std::vector<hw::BoxRequest> shown;
  hw::BoxAnswer answer = hw::BoxAnswer::Ok;  // to a box that offers a choice

 private:
  class Recorder : public hw::MessageBoxes {
   public:
    explicit Recorder(RecordingBoxes* owner) : owner_(owner) {}
    hw::BoxAnswer Show(const hw::BoxRequest& request) override {
      owner_->shown.push_back(request);
      return request.buttons == hw::BoxButtons::OkCancel ? owner_->answer : hw::BoxAnswer::Ok;
    }

   private:
    RecordingBoxes* owner_;
  };
  std::unique_ptr<hw::MessageBoxes> previous_;
};
