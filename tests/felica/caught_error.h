// The error a call raises, for the access layer's tests.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "felica/FelicaError.h"

inline FelicaError CaughtError(const std::function<void()>& call) {
  try {
    call();
  } catch (const FelicaError& error) {
    return error;
  }
  ADD_FAILURE() << "no error raised";
  return FelicaError{0, L"", L""};
}
