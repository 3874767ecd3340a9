// The application object. It has no behaviour of its own.
#pragma once

#include "platform/application.h"

class App : public Application {
 public:
  virtual void Constructor() {}
};
