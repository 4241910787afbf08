#include "proxy/uProxyManager.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <numeric>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "net/Dispatcher.h"
#include "platform/Http.h"

namespace {

constexpr const char* kAnyCountry = "UN";
constexpr const char* kDefaultCountry = "US";

// --- record texts -------------------------------------------------------------------

// The first five "|" fields of a record text, without copying. Count is the
// number of fields found, at most 5.
struct TRecordFields {
  std::string_view F[5];
  int Count = 0;

  explicit TRecordFields(std::string_view rec) {
    size_t start = 0;
    for (;;) {
      const size_t bar = rec.find('|', start);
      F[Count++] = rec.substr(start, bar == std::string_view::npos ? bar : bar - start);
      if (bar == std::string_view::npos || Count == 5) break;
      start = bar + 1;
    }
  }
  // The address: field 1 up to its first ":" (empty without one).
  std::string_view IP() const {
    const size_t colon = F[0].find(':');
    return colon == std::string_view::npos ? std::string_view() : F[0].substr(0, colon);
  }
  std::string_view CountryLong() const { return F[1]; }
  std::string_view CountryShort() const { return F[2]; }
};

// Key of the case-blind look-ups: ASCII letters folded to lower case, the
// same rule as SameText.
void FoldInto(std::string_view s, std::string& out) {
  out.assign(s);
  for (char& c : out) c = LowerAscii(c);
}

bool MatchesCountry(std::string_view code, const std::string& aCountry) {
  return aCountry == kAnyCountry || SameText(code, aCountry);
}

// A record the lists keep: five fields, an address in front of the first
// ":", and no NUL character (which no host name or country holds and which
// would cut the text short in the system calls that receive it).
bool IsWellFormed(const std::string& rec) {
  if (rec.find('\0') != std::string::npos) return false;
  const TRecordFields f(rec);
  return f.Count == 5 && !f.IP().empty();
}

// Appends the records of a list value to List: "\'" stands for "'", records
// are separated by ";".
void AppendListValue(const std::string& value, TStringList& List) {
  SplitString(StringReplaceAll(value, "\\'", "'"), ';', &List);
}

// Removes empty entries and records that cannot be decoded, keeping the
// order of the rest.
void DropUnusable(TStringList& List) {
  std::vector<std::string> kept;
  kept.reserve(static_cast<size_t>(List.Count()));
  for (int i = 0; i < List.Count(); ++i)
    if (!List[i].empty() && IsWellFormed(List[i])) kept.push_back(std::move(List[i]));
  List = TStringList(std::move(kept));
}

// The lines of a list as a set of folded texts (look-ups without regard to case).
std::unordered_set<std::string> FoldedSet(const TStringList& List) {
  std::unordered_set<std::string> set;
  set.reserve(static_cast<size_t>(List.Count()) * 2);
  std::string key;
  for (const std::string& line : List.Lines()) {
    FoldInto(line, key);
    set.insert(key);
  }
  return set;
}

// --- the moving pass of the shuffle ---------------------------------------------------

// Moves the entry at position from to position to (remove, then insert).
void MoveEntry(std::vector<uint32_t>& seq, size_t from, size_t to) {
  if (to < from)
    std::rotate(seq.begin() + static_cast<ptrdiff_t>(to),
                seq.begin() + static_cast<ptrdiff_t>(from),
                seq.begin() + static_cast<ptrdiff_t>(from) + 1);
  else if (to > from)
    std::rotate(seq.begin() + static_cast<ptrdiff_t>(from),
                seq.begin() + static_cast<ptrdiff_t>(from) + 1,
                seq.begin() + static_cast<ptrdiff_t>(to) + 1);
}

// A sequence cut into blocks with a Fenwick tree over the block sizes, so
// that finding, removing and inserting the entry at a position costs about
// log(blocks) + block size instead of the sequence length.
class TBlockSeq {
 public:
  TBlockSeq(const std::vector<uint32_t>& seq, size_t blockSize) : FBlockSize(blockSize) {
    for (size_t s = 0; s < seq.size(); s += blockSize) {
      const size_t e = std::min(seq.size(), s + blockSize);
      FBlocks.emplace_back();
      FBlocks.back().reserve(blockSize * 3);
      FBlocks.back().assign(seq.begin() + static_cast<ptrdiff_t>(s),
                            seq.begin() + static_cast<ptrdiff_t>(e));
    }
    BuildTree();
  }

  // Moves the entry at position i to position to, for i = 0, 1, 2, ... in
  // turn: the block holding position i is followed by a cursor instead of
  // being looked up.
  void MoveNext(size_t i, size_t to) {
    while (i - FCursorStart >= FBlocks[FCursor].size()) {
      FCursorStart += FBlocks[FCursor].size();
      ++FCursor;
    }
    std::vector<uint32_t>& from = FBlocks[FCursor];
    const auto at = from.begin() + static_cast<ptrdiff_t>(i - FCursorStart);
    const uint32_t v = *at;
    from.erase(at);
    Add(FCursor, -1);
    auto [b, o] = Locate(to);
    std::vector<uint32_t>& into = FBlocks[b];
    into.insert(into.begin() + static_cast<ptrdiff_t>(o), v);
    Add(b, 1);
    if (b < FCursor) ++FCursorStart;
    // Draws that keep hitting one block would make it long and every move
    // into it slow: such a block is cut in two.
    if (into.size() >= 8 * FBlockSize) Split(b);
  }

  void Flatten(std::vector<uint32_t>& seq) const {
    seq.clear();
    for (const auto& block : FBlocks) seq.insert(seq.end(), block.begin(), block.end());
  }

 private:
  // Block and offset of the entry at pos (pos below the entry count).
  std::pair<size_t, size_t> Locate(size_t pos) const {
    size_t idx = 0;
    int rem = static_cast<int>(pos);
    // Largest idx whose prefix sum is at most pos. Written without branches:
    // the comparisons are unpredictable and mispredictions would dominate.
    for (size_t step = FTop; step; step >>= 1) {
      const size_t next = idx + step;
      const int size = FTree[next];
      const bool take = size <= rem;
      idx = take ? next : idx;
      rem -= take ? size : 0;
    }
    return {idx, static_cast<size_t>(rem)};
  }
  void BuildTree() {
    // The tree covers a power of two of blocks; the blocks past the real
    // ones stay empty, so a descent never needs a bounds check.
    FTop = 1;
    while (FTop < FBlocks.size()) FTop *= 2;
    FTree.assign(FTop + 1, 0);
    for (size_t b = 0; b < FBlocks.size(); ++b) Add(b, static_cast<int>(FBlocks[b].size()));
  }
  void Split(size_t b) {
    std::vector<uint32_t>& whole = FBlocks[b];
    const auto half = whole.begin() + static_cast<ptrdiff_t>(whole.size() / 2);
    std::vector<uint32_t> tail(half, whole.end());
    whole.erase(half, whole.end());
    FBlocks.insert(FBlocks.begin() + static_cast<ptrdiff_t>(b) + 1, std::move(tail));
    if (b < FCursor) ++FCursor;
    BuildTree();
  }
  void Add(size_t block, int delta) {
    for (size_t i = block + 1; i < FTree.size(); i += i & (~i + 1)) FTree[i] += delta;
  }

  size_t FBlockSize;
  std::vector<std::vector<uint32_t>> FBlocks;
  std::vector<int> FTree;  // 1-based Fenwick tree of block sizes
  size_t FTop = 1;
  size_t FCursor = 0;       // block holding the next position of MoveNext
  size_t FCursorStart = 0;  // position of that block's first entry
};

constexpr size_t kBlockSize = 128;
constexpr size_t kDirectLimit = 2 * kBlockSize;

// One pass: for each position i from 0 to n-1, the entry found at i moves to
// a drawn position from 0 to n-2.
void MovePass(std::vector<uint32_t>& seq, IProxyRandom& rnd) {
  const size_t n = seq.size();
  if (n == 0) return;
  const int range = static_cast<int>(n) - 1;
  auto draw = [&]() -> size_t {
    const int r = rnd.Random(range);
    return static_cast<size_t>(std::clamp(r, 0, std::max(range - 1, 0)));
  };
  if (n <= kDirectLimit) {
    for (size_t i = 0; i < n; ++i) MoveEntry(seq, i, draw());
    return;
  }
  TBlockSeq blocks(seq, kBlockSize);
  for (size_t i = 0; i < n; ++i) blocks.MoveNext(i, draw());
  blocks.Flatten(seq);
}

void ApplyOrder(TStringList& List, const std::vector<uint32_t>& order) {
  std::vector<std::string> lines;
  lines.reserve(order.size());
  for (uint32_t k : order) lines.push_back(std::move(List[static_cast<int>(k)]));
  for (int i = 0; i < List.Count(); ++i) List[i] = std::move(lines[static_cast<size_t>(i)]);
}

// --- the production generator -----------------------------------------------------------

class TClockRandom : public IProxyRandom {
 public:
  TClockRandom() { Randomize(); }
  void Randomize() override {
    const uint64_t wall =
        static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const uint64_t mono =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    FState = Mix(FState ^ wall) ^ Mix(mono + 0x9E3779B97F4A7C15ull);
  }
  int Random(int n) override {
    if (n <= 0) return 0;
    return static_cast<int>(Next() % static_cast<uint64_t>(n));
  }

 private:
  static uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Next() {
    FState += 0x9E3779B97F4A7C15ull;
    return Mix(FState);
  }
  uint64_t FState = 0;
};

std::atomic<int> GRunningInfoThreads{0};

}  // namespace

std::shared_ptr<IProxyRandom> CreateClockRandom() { return std::make_shared<TClockRandom>(); }

// --- TInfoGotThread -----------------------------------------------------------------------

TInfoGotThread::TInfoGotThread() = default;

TInfoGotThread::~TInfoGotThread() { WaitFor(); }

int TInfoGotThread::RunningCount() { return GRunningInfoThreads.load(); }

void TInfoGotThread::Start() {
  if (FStarted) return;
  FStarted = true;
  ++GRunningInfoThreads;
  const bool selfFree = FreeOnTerminate;
  try {
    if (selfFree) {
      // From here on the thread owns the object; the creator must not touch it.
      std::thread([this] {
        Execute();
        delete this;
        --GRunningInfoThreads;
      }).detach();
    } else {
      FThread = std::thread([this] {
        Execute();
        --GRunningInfoThreads;
      });
    }
  } catch (const std::system_error&) {
    // No thread to be had: the request is dropped like a failed one.
    --GRunningInfoThreads;
    if (selfFree) delete this;
  }
}

void TInfoGotThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TInfoGotThread::Execute() {
  std::string body, error;
  if (platform::HttpGetDirect(FURL, body, kTimeoutMs, &error))
    FRet = std::move(body);
  else
    CLDebugLog::Write("Request of " + FURL + " failed: " + error);
  // Synchronous hand-over: the handler runs on the user-interface thread
  // while this thread waits. Without a dispatcher there is no such thread
  // to run it on, and the answer is dropped.
  IDispatcher* dispatcher = GetDispatcher();
  if (!dispatcher) return;
  if (FRet.empty()) {
    FError = std::move(error);
    if (FOnFailed) dispatcher->Send([this] { FOnFailed(FError); });
    return;
  }
  if (FOnInfoGot) dispatcher->Send([this] { FOnInfoGot(FRet); });
}

// --- TProxyManager: lists and countries -------------------------------------------------------

TProxyManager::TProxyManager()
    : FTargetCountry(kDefaultCountry),
      FRandom(CreateClockRandom()),
      FAlive(std::make_shared<int>(0)) {}

TProxyManager::~TProxyManager() = default;

void TProxyManager::SetRandom(std::shared_ptr<IProxyRandom> aRandom) {
  FRandom = aRandom ? std::move(aRandom) : CreateClockRandom();
}

bool TProxyManager::LoadSettings() {
  TCLSettings* settings = GetCLSettings();
  AppendListValue(settings->GetSettingString("NORMAL_IPS"), FNormalProxyList);
  AppendListValue(settings->GetSettingString("SUPER_IPS"), FSuperProxyList);
  DropUnusable(FNormalProxyList);
  DropUnusable(FSuperProxyList);
  FSuperTouch = settings->GetSettingString("SUPER_TOUCH");
  // The choice stored by the country dialog and at exit survives a restart.
  const std::string stored = settings->GetSettingString("TARGET_COUNTRY");
  FTargetCountry = stored.empty() ? std::string(kDefaultCountry) : stored;
  return FNormalProxyList.Count() > 0;
}

bool TProxyManager::GetProxyRec(const TStringList& aSL, int aIndex, bool aIsSuper,
                                TProxyRec& Result) const {
  if (aIndex < 0 || aIndex >= aSL.Count()) return false;
  const TRecordFields f(aSL[aIndex]);
  const std::string_view first = f.F[0];
  const size_t colon = first.find(':');
  if (colon == std::string_view::npos) {
    Result.IP.clear();
    Result.Port.assign(first);
  } else {
    Result.IP.assign(first.substr(0, colon));
    Result.Port.assign(first.substr(colon + 1));
  }
  Result.Country_Long.assign(f.F[1]);
  Result.Country_Short.assign(f.F[2]);
  Result.Longitude.assign(f.F[3]);
  Result.Latitude.assign(f.F[4]);
  Result.IsSuper = aIsSuper;
  return true;
}

void TProxyManager::GetCountryList(TStringList* aSL) const {
  if (!aSL) return;
  std::unordered_set<std::string> held = FoldedSet(*aSL);
  std::string key;
  for (const TStringList* list : {&FNormalProxyList, &FSuperProxyList})
    for (const std::string& rec : list->Lines()) {
      const TRecordFields f(rec);
      FoldInto(f.CountryLong(), key);
      if (held.insert(key).second) aSL->Add(std::string(f.CountryLong()));
    }
}

int TProxyManager::GetcountryListCount(const std::string& aCountry, bool aIncludeSuper) const {
  if (aCountry == kAnyCountry)
    return FNormalProxyList.Count() + (aIncludeSuper ? FSuperProxyList.Count() : 0);
  int count = 0;
  for (const TStringList* list : {&FNormalProxyList, &FSuperProxyList}) {
    if (list == &FSuperProxyList && !aIncludeSuper) break;
    for (const std::string& rec : list->Lines())
      if (SameText(TRecordFields(rec).CountryShort(), aCountry)) ++count;
  }
  return count;
}

std::string TProxyManager::GetCountryLong(const std::string& aCountryShort) const {
  return CountryField(aCountryShort, 2, 1);
}

std::string TProxyManager::GetCountryShort(const std::string& aCountryLong) const {
  return CountryField(aCountryLong, 1, 2);
}

std::string TProxyManager::CountryField(const std::string& key, int keyField,
                                        int valueField) const {
  for (const TStringList* list : {&FNormalProxyList, &FSuperProxyList})
    for (const std::string& rec : list->Lines()) {
      const TRecordFields f(rec);
      if (SameText(f.F[keyField], key)) return std::string(f.F[valueField]);
    }
  return std::string();
}

void TProxyManager::GetCountryPosition(const std::string& aCountryLong, std::string& aLongi,
                                       std::string& aLati) const {
  for (const TStringList* list : {&FNormalProxyList, &FSuperProxyList})
    for (int i = 0; i < list->Count(); ++i) {
      const TRecordFields f((*list)[i]);
      if (SameText(f.CountryLong(), aCountryLong)) {
        TProxyRec rec;
        GetProxyRec(*list, i, false, rec);
        aLongi = rec.Longitude;
        aLati = rec.Latitude;
        return;
      }
    }
}

bool TProxyManager::IsCountryExistsInNormal(const std::string& aCountry) const {
  for (const std::string& rec : FNormalProxyList.Lines())
    if (rec.find(aCountry) != std::string::npos) return true;
  return false;
}

// --- TProxyManager: selection -------------------------------------------------------------

void TProxyManager::ShuffleOrders(std::vector<uint32_t>& aNOrder, std::vector<uint32_t>& aSOrder,
                                  bool aIncludeSuper) {
  FRandom->Randomize();
  for (int round = 0; round < 4; ++round) {
    MovePass(aNOrder, *FRandom);
    if (aIncludeSuper) MovePass(aSOrder, *FRandom);
  }
}

void TProxyManager::RandomSort(TStringList& aNSL, TStringList& aSSL, bool aIncludeSuper) {
  std::vector<uint32_t> nOrder(static_cast<size_t>(aNSL.Count()));
  std::iota(nOrder.begin(), nOrder.end(), 0u);
  if (&aNSL == &aSSL && aIncludeSuper) {
    // One list given twice: its passes follow each other on the same list.
    FRandom->Randomize();
    for (int pass = 0; pass < 8; ++pass) MovePass(nOrder, *FRandom);
    ApplyOrder(aNSL, nOrder);
    return;
  }
  std::vector<uint32_t> sOrder(aIncludeSuper ? static_cast<size_t>(aSSL.Count()) : 0);
  std::iota(sOrder.begin(), sOrder.end(), 0u);
  ShuffleOrders(nOrder, sOrder, aIncludeSuper);
  ApplyOrder(aNSL, nOrder);
  if (aIncludeSuper) ApplyOrder(aSSL, sOrder);
}

void TProxyManager::OrganizeUsedList(const std::string& aCountry, bool aIncludeSuper) {
  const std::unordered_set<std::string> used = FoldedSet(FUsedProxyList);
  int usedCount = 0, total = 0;
  std::string key;
  for (const TStringList* list : {&FNormalProxyList, &FSuperProxyList}) {
    if (list == &FSuperProxyList && !aIncludeSuper) break;
    for (const std::string& rec : list->Lines()) {
      const TRecordFields f(rec);
      if (!MatchesCountry(f.CountryShort(), aCountry)) continue;
      ++total;
      if (used.empty()) continue;
      FoldInto(f.IP(), key);
      if (used.count(key)) ++usedCount;
    }
  }
  if (usedCount >= total) FUsedProxyList.Clear();
}

TProxyRec TProxyManager::GetIdleProxy(const std::string& aCountry, bool aClearUsed,
                                      TProxyRange aRange, bool aChange) {
  FRandom->Randomize();
  TProxyRec result = FTargetProxy;
  if (!aChange && !result.IP.empty()) return result;

  // Shuffled orders stand for the shuffled copies: the manager's own lists
  // keep their order, and no record text is copied.
  std::vector<uint32_t> nOrder(static_cast<size_t>(FNormalProxyList.Count()));
  std::vector<uint32_t> sOrder(static_cast<size_t>(FSuperProxyList.Count()));
  std::iota(nOrder.begin(), nOrder.end(), 0u);
  std::iota(sOrder.begin(), sOrder.end(), 0u);
  ShuffleOrders(nOrder, sOrder, true);

  // Every range reconciles over the normal list: a selection never waits
  // for super proxies it may not hand out.
  OrganizeUsedList(aCountry, false);
  if (aClearUsed) FUsedProxyList.Clear();

  const std::unordered_set<std::string> used = FoldedSet(FUsedProxyList);
  std::string key;
  auto pass = [&](const TStringList& list, const std::vector<uint32_t>& order, bool isSuper,
                  TProxyRec& hit) {
    for (uint32_t k : order) {
      const TRecordFields f(list[static_cast<int>(k)]);
      if (!MatchesCountry(f.CountryShort(), aCountry)) continue;
      FoldInto(f.IP(), key);
      if (used.count(key)) continue;
      GetProxyRec(list, static_cast<int>(k), isSuper, hit);
      FUsedProxyList.Add(hit.IP);
      return true;
    }
    return false;
  };

  const bool superFirst = aRange == KSuper || (aRange == KAll && FRandom->Random(10) < 2);
  TProxyRec hit;
  if (superFirst && pass(FSuperProxyList, sOrder, true, hit)) return hit;
  if (pass(FNormalProxyList, nOrder, false, hit)) return hit;
  return result;
}

namespace {
// One call of an address on a worker; the answer is ignored.
void CallAndForget(const std::string& url) {
  if (url.empty()) return;  // nothing to call
  auto* thread = new TInfoGotThread();
  thread->FURL = url;
  thread->FreeOnTerminate = true;
  thread->Start();
}
}  // namespace

void TProxyManager::Touch(const TProxyRec& aPR) {
  CallAndForget(FormatPlaceholders(GetCLSettings()->GetSettingString("SUPER_TOUCH"), {aPR.IP}));
}

void TProxyManager::ReportGivenUp(const TProxyRec& aPR) {
  const std::string url =
      FormatPlaceholders(GetCLSettings()->GetSettingString("SUPER_TOUCH"), {aPR.IP});
  if (!url.empty())
    CallAndForget(url + (url.find('?') == std::string::npos ? "?" : "&") + "dead=1");
}

// --- TProxyManager: local information ------------------------------------------------------

void TProxyManager::GetCurrentLocalInfo() {
  TCLSettings* settings = GetCLSettings();
  auto* thread = new TInfoGotThread();
  thread->FURL = settings->GetSettingString("URL.GetInfo") +
                 "?MagicWord=" + settings->GetSettingString("App.MagicWord");
  thread->FreeOnTerminate = true;
  // The answer arrives on the user-interface thread, where the manager is
  // also destroyed; a manager gone by then is not touched.
  std::weak_ptr<int> alive = FAlive;
  thread->FOnInfoGot = [alive, this](const std::string& aRet) {
    if (!alive.expired()) InfoGot(aRet);
  };
  thread->FOnFailed = [alive, this, url = thread->FURL](const std::string& aError) {
    if (!alive.expired() && FOnLocalInfoFailed) FOnLocalInfoFailed(url, aError);
  };
  thread->Start();
}

void TProxyManager::InfoGot(const std::string& aRet) {
  FLocalInfo.SetText(aRet);
  if (FOnGetCurrentLocalInfo) FOnGetCurrentLocalInfo(this);
}
