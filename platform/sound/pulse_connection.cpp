#include "platform/sound/pulse_connection.h"

namespace platform::sound {

std::unique_ptr<PulseConnection> PulseConnection::Open(std::chrono::milliseconds bound) {
  auto c = std::make_unique<PulseConnection>();
  c->loop_ = pa_threaded_mainloop_new();
  if (c->loop_ == nullptr) return nullptr;
  pa_threaded_mainloop_set_name(c->loop_, "tonaria-pulse");
  c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->loop_), "Tonaria");
  if (c->context_ == nullptr) return nullptr;
  pa_context_set_state_callback(c->context_, &PulseConnection::OnContextState, c.get());
  // No autospawn: a user without a server gets ALSA, not a server started for us.
  if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return nullptr;
  if (pa_threaded_mainloop_start(c->loop_) < 0) return nullptr;
  pa_context* context = c->context_;
  if (!c->WaitFor([context] { return pa_context_get_state(context) == PA_CONTEXT_READY; }, bound))
    return nullptr;
  return c;
}

PulseConnection::~PulseConnection() {
  // Closing the socket needs no answer from the server, so a frozen one holds nothing up.
  if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
  if (context_ != nullptr) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
}

void PulseConnection::MarkLost() {
  lost_ = true;
  changed_.Set();
}

void PulseConnection::OnContextState(pa_context* context, void* self) {
  auto* c = static_cast<PulseConnection*>(self);
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
    c->MarkLost();
  } else {
    c->Notify();
  }
}

}  // namespace platform::sound
