// The small object model the components share: every component derives from
// TComponent, and event handlers receive their sender as a TObject.
#pragma once

#include <cstdint>
#include <string>

class TObject {
 public:
  virtual ~TObject() = default;
};

class TPersistent : public TObject {};

class TComponent : public TPersistent {
 public:
  std::string Name;
  intptr_t Tag = 0;
};
