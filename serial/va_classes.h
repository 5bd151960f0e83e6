#pragma once

#include <cstdint>
#include <functional>

namespace stbup {

// A settings object that tells its owner about changes. Batches of changes
// (BeginUpdate ... EndUpdate) reach the owner as one.
class TVaPersistent {
 public:
  using TNotifyChange = std::function<void(TVaPersistent& sender)>;

  virtual ~TVaPersistent() = default;

  void BeginUpdate() { ++UpdateDepth; }
  void EndUpdate();
  // Copies every setting from a source of the same class; other sources are
  // not assignable and raise EVaCommError.
  virtual void Assign(const TVaPersistent& source);

  std::int32_t UpdateDepth = 0;
  TNotifyChange OnChange;

 protected:
  void Changed();
};

// Base of the port component. The form-loading step is where AutoOpen acts.
class TVaComponent {
 public:
  virtual ~TVaComponent() = default;
  // Called once the owner has set the component up as the form describes.
  virtual void Loaded() {}
};

}  // namespace stbup
