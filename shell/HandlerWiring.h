#pragma once
#include <QObject>
#include <type_traits>
#include <utility>

#include "shell/ErrorDisplay.h"

namespace hw {

// Every connection from a toolkit signal to one of our handlers is made here. The toolkit does not
// promise that an exception may unwind through its signal dispatch, so the handler runs inside
// RunHandler: an error that leaves it is shown in the error box and the program runs on, as for
// any other handler. A handler that takes the signal's arguments gets them.
template <typename Sender, typename Signal, typename Handler>
QMetaObject::Connection WireHandler(const Sender* sender, Signal signal, const QObject* context, Handler handler) {
  return QObject::connect(sender, signal, context, [handler = std::move(handler)](auto... arguments) {
    RunHandler([&] {
      if constexpr (std::is_invocable_v<Handler&, decltype(arguments)...>)
        handler(arguments...);
      else
        handler();
    });
  });
}

// The same for a handler that is a member function of the receiver, taking no arguments.
template <typename Sender, typename Signal, typename Receiver>
QMetaObject::Connection WireHandler(const Sender* sender, Signal signal, Receiver* receiver,
                                    void (Receiver::*handler)()) {
  return WireHandler(sender, signal, receiver, [receiver, handler] { (receiver->*handler)(); });
}

}  // namespace hw
