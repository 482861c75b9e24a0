#pragma once
// Closing calls of begin/end brackets run from destructors. When the bracketed work
// throws, the closing call must not replace that exception; otherwise an unbalanced close
// raises as usual.

#include <exception>

namespace dtp {

template <class F> void CloseBracket(F&& close) {
  if (std::uncaught_exceptions() == 0) {
    close();
  } else {
    try {
      close();
    } catch (...) {
    }
  }
}

} // namespace dtp
