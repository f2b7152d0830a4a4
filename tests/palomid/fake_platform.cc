#include "tests/palomid/fake_platform.h"

#include "palomid/exception.h"

namespace palomid {

class FakePlatform::FakeUdpClient : public UdpClient {
 public:
  explicit FakeUdpClient(FakePlatform* platform) : platform_(platform) {
    ++platform_->live_udp_clients_;
  }
  ~FakeUdpClient() override { --platform_->live_udp_clients_; }

  void SetActive(bool) override { platform_->Enter(Op::kUdpSetActive); }

  void Broadcast(const std::string& msg, int32_t port) override {
    platform_->Enter(Op::kUdpBroadcast);
    platform_->datagrams_.push_back({msg, port});
  }

 private:
  FakePlatform* platform_;
};

// A real file whose operations can be made to fail.
class FakePlatform::FaultyTextFile : public TextFile {
 public:
  FaultyTextFile(FakePlatform* platform, std::unique_ptr<TextFile> real)
      : platform_(platform), real_(std::move(real)) {}

  void Write(const std::string& data) override {
    platform_->Enter(Op::kTextWrite);
    real_->Write(data);
  }
  void Flush() override {
    platform_->Enter(Op::kTextFlush);
    real_->Flush();
  }
  void Close() override {
    platform_->Enter(Op::kTextClose);
    real_->Close();
  }

 private:
  FakePlatform* platform_;
  std::unique_ptr<TextFile> real_;
};

FakePlatform::FakePlatform() = default;

FakePlatform::~FakePlatform() = default;

void FakePlatform::InjectFault(Op op, int nth, std::function<void()> raise) {
  faults_.emplace(op, std::make_pair(nth, std::move(raise)));
}

void FakePlatform::Fail(Op op, int nth, const std::string& message) {
  InjectFault(op, nth, [message] { throw Error(message); });
}

int FakePlatform::calls(Op op) const {
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

void FakePlatform::Enter(Op op) {
  const int call = ++calls_[op];
  auto [begin, end] = faults_.equal_range(op);
  for (auto it = begin; it != end; ++it) {
    if (it->second.first == 0 || it->second.first == call) it->second.second();
  }
}

LocalTime FakePlatform::Now() {
  Enter(Op::kNow);
  if (times_.empty()) return LocalTime{};
  const size_t index = static_cast<size_t>(calls(Op::kNow) - 1);
  return times_[std::min(index, times_.size() - 1)];
}

std::string FakePlatform::TimeSeparator() {
  Enter(Op::kTimeSeparator);
  return separator_;
}

uint32_t FakePlatform::TickCount() {
  Enter(Op::kTickCount);
  return ticks_;
}

void FakePlatform::Tone(int frequency_hz, int duration_ms) {
  Enter(Op::kTone);
  tones_.emplace_back(frequency_hz, duration_ms);
}

std::unique_ptr<UdpClient> FakePlatform::NewUdpClient() {
  Enter(Op::kNewUdpClient);
  return std::make_unique<FakeUdpClient>(this);
}

std::string FakePlatform::ComputerName() {
  Enter(Op::kComputerName);
  return computer_name_;
}

bool FakePlatform::FileExists(const std::string& file_name) {
  Enter(Op::kFileExists);
  return real_.FileExists(file_name);
}

std::string FakePlatform::ReadFileExclusive(const std::string& file_name) {
  Enter(Op::kReadFileExclusive);
  return real_.ReadFileExclusive(file_name);
}

std::unique_ptr<TextFile> FakePlatform::CreateTextFile(const std::string& file_name) {
  Enter(Op::kCreateTextFile);
  return std::make_unique<FaultyTextFile>(this, real_.CreateTextFile(file_name));
}

std::unique_ptr<TextFile> FakePlatform::AppendTextFile(const std::string& file_name) {
  Enter(Op::kAppendTextFile);
  return std::make_unique<FaultyTextFile>(this, real_.AppendTextFile(file_name));
}

}  // namespace palomid
