#pragma once
#include <QValidator>

namespace hw {

// Refuses any input whose UTF-8 bytes (what the program sends and stores) would exceed the limit,
// however it arrives: typed, pasted or composed by an input method.
class ByteLimitValidator : public QValidator {
 public:
  ByteLimitValidator(int maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}
  State validate(QString& input, int&) const override {
    return input.toUtf8().size() <= maxBytes_ ? Acceptable : Invalid;
  }

 private:
  int maxBytes_;
};

}  // namespace hw
