// Streams from the net: libcurl downloads on a thread of its own into a buffer (all of it for a file,
// up to a bound when the server does not say how long it is; a sliding window for a radio stream),
// FFmpeg decodes from that buffer on a second thread into a sample queue, and the mixer takes from
// the queue without ever waiting for the net.

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

#include "audiolib/Decoder.h"
#include "audiolib/TagBlocks.h"

namespace lumora::audiolib {

namespace {

using namespace std::chrono_literals;

// Files larger than this are streamed like a radio station instead of being kept whole.
constexpr uint64_t kMaxKeptBytes = 512u << 20;
// A body of unknown length is kept whole up to this (or the smaller size set in the library's
// configuration), and taken for a radio station from there on: it may never end.
constexpr uint64_t kMaxKeptWithoutLength = 64u << 20;
// A radio stream keeps at most this much unread; the download waits when it is ahead by more.
constexpr size_t kMaxUnreadBytes = 4u << 20;
// Bytes a radio stream's buffer keeps behind the reader before dropping them.
constexpr size_t kKeepBehind = 256u << 10;
// Bytes of a stream the opening waits for before it lets the decoder probe the format.
constexpr size_t kProbeBytes = 16u << 10;

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class UrlChannel;

// Everything the download thread shares with the reader.
struct NetState {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<uint8_t> data; // bytes from `base` on
    uint64_t base = 0;         // stream offset of data[0]
    uint64_t readPos = 0;      // the decoder's position in the stream
    uint64_t downloaded = 0;
    int64_t contentLength = -1;
    bool keepAll = false; // every byte is kept (a file), not a window that slides on (a radio stream)
    bool headersDone = false;
    bool done = false;   // the transfer ended (well or not)
    bool failed = false; // ... with an error
    bool complete = false;
    uint64_t measuredFrames = 0; // the length that decodes, measured once the whole file is in
    std::atomic<bool> abort{false};
    long status = 0;
    uint64_t metaInterval = 0;
    std::vector<std::string> headers; // the last response's header lines
    std::string meta;                 // the newest ICY metadata text
    std::string httpList, icyList;    // tag lists built once the headers are in
    uint64_t keepWithoutLength = kMaxKeptWithoutLength;

    // The transfer's wait for the network, which Abort cuts short.
    std::mutex multiMutex;
    CURLM* multi = nullptr;

    // Ends the transfer and every wait for it at once.
    void Abort() {
        abort = true;
        {
            std::lock_guard lock(mutex);
            cv.notify_all();
        }
        std::lock_guard lock(multiMutex);
        if (multi) curl_multi_wakeup(multi);
    }
};

class UrlChannel : public Channel {
public:
    UrlChannel(std::shared_ptr<NetState> net, std::unique_ptr<Decoder> dec, DWORD flags, std::string url)
        : Channel(dec->Rate(), dec->Chans(), flags, dec->CType()), net_(std::move(net)), dec_(std::move(dec)) {
        FileName = std::move(url);
        decoderLength_ = dec_->LengthFrames();
        OrigRes = dec_->OrigRes();
        metadata_ = dec_->MetadataList();
        metadata_.push_back('\0');
        fifoLimit_ = static_cast<size_t>(Freq) * FrameBytes() * 2;
        decodeThread_ = std::thread([this] { DecodeLoop(); });
    }
    ~UrlChannel() override { Shutdown(); }

    void AttachDownload(std::thread t) { download_ = std::move(t); }

    void Shutdown() override {
        net_->Abort();
        {
            std::lock_guard lock(fifoMutex_);
            stop_ = true;
            fifoCv_.notify_all();
        }
        if (decodeThread_.joinable()) decodeThread_.join();
        if (download_.joinable()) download_.join();
    }

    size_t Produce(uint8_t* out, size_t bytes, bool& ended) override {
        std::lock_guard lock(fifoMutex_);
        size_t n = std::min(bytes, fifo_.size());
        std::copy(fifo_.begin(), fifo_.begin() + static_cast<std::ptrdiff_t>(n), out);
        fifo_.erase(fifo_.begin(), fifo_.begin() + static_cast<std::ptrdiff_t>(n));
        if (fifo_.empty() && decodeDone_) ended = true;
        fifoCv_.notify_all();
        return n;
    }

    bool SeekBytes(uint64_t pos) override {
        {
            std::lock_guard lock(net_->mutex);
            if (!net_->complete || !net_->keepAll) return Fail(BASS_ERROR_NOTAVAIL, false);
        }
        std::lock_guard dec(decoderMutex_);
        const bool sought = dec_->SeekFrame(pos / FrameBytes());
        decoderLength_ = dec_->LengthFrames();
        if (!sought) return false;
        decodedFrames_ = pos / FrameBytes();
        std::lock_guard lock(fifoMutex_);
        fifo_.clear();
        decodeDone_ = false;
        fifoCv_.notify_all();
        return true;
    }

    bool LengthBytes(uint64_t& bytes) override {
        uint64_t frames;
        {
            std::lock_guard lock(net_->mutex);
            frames = net_->measuredFrames;
        }
        if (frames == 0) frames = decoderLength_;
        if (frames == 0) return Fail(BASS_ERROR_NOTAVAIL, false);
        bytes = frames * FrameBytes();
        return true;
    }

    const char* Tags(DWORD kind) override {
        std::lock_guard lock(net_->mutex);
        switch (kind) {
        case BASS_TAG_HTTP:
            if (!net_->httpList.empty()) return net_->httpList.c_str();
            break;
        case BASS_TAG_ICY:
            if (!net_->icyList.empty()) return net_->icyList.c_str();
            break;
        case BASS_TAG_META:
            if (!net_->meta.empty()) {
                // One string, ended by two zero bytes so a reader that takes it for a list stops too.
                // Earlier copies stay alive for a while: another thread may still be reading one.
                std::string copy = net_->meta + '\0';
                if (metaCopies_.empty() || metaCopies_.back() != copy) {
                    metaCopies_.push_back(std::move(copy));
                    if (metaCopies_.size() > 16) metaCopies_.pop_front();
                }
                return metaCopies_.back().c_str();
            }
            break;
        case BASS_TAG_OGG:
            if (CType == BASS_CTYPE_STREAM_OGG && metadata_.size() > 1) return metadata_.data();
            break;
        case BASS_TAG_ID3:
        case BASS_TAG_ID3V2:
            // The ID3 blocks are known once the whole file is in.
            if (net_->complete && net_->keepAll && net_->base == 0) {
                const auto& d = net_->data;
                if (kind == BASS_TAG_ID3V2) {
                    if (id3v2_.empty()) id3v2_ = Id3v2Block(d.data(), d.size());
                    if (!id3v2_.empty()) return reinterpret_cast<const char*>(id3v2_.data());
                } else if (d.size() >= 128 && IsId3v1Block(d.data() + d.size() - 128, 128)) {
                    id3v1_.assign(d.end() - 128, d.end());
                    return reinterpret_cast<const char*>(id3v1_.data());
                }
            }
            break;
        default: break;
        }
        return Fail<const char*>(BASS_ERROR_NOTAVAIL, nullptr);
    }

    QWORD FilePosition(DWORD mode) override {
        std::lock_guard lock(net_->mutex);
        switch (mode) {
        case BASS_FILEPOS_CURRENT: return net_->readPos;
        case BASS_FILEPOS_DOWNLOAD: return net_->downloaded;
        case BASS_FILEPOS_END:
            if (net_->contentLength >= 0) return static_cast<QWORD>(net_->contentLength);
            if (net_->complete) return net_->downloaded;
            return Fail(BASS_ERROR_NOTAVAIL, ~QWORD{0});
        case BASS_FILEPOS_START: return 0;
        case BASS_FILEPOS_BUFFER: return net_->data.size();
        default: return Fail(BASS_ERROR_ILLPARAM, ~QWORD{0});
        }
    }

    bool DownloadDone() {
        std::lock_guard lock(net_->mutex);
        return net_->complete;
    }

private:
    void DecodeLoop() {
        std::vector<uint8_t> chunk(FrameBytes() * 2048);
        while (true) {
            {
                std::unique_lock lock(fifoMutex_);
                fifoCv_.wait(lock, [this] { return stop_ || (!decodeDone_ && fifo_.size() < fifoLimit_); });
                if (stop_) return;
            }
            bool ended = false;
            size_t pastEnd = 0;
            // The samples go into the queue before a seek may clear it, so none from before the seek
            // are left to play after it.
            std::lock_guard dec(decoderMutex_);
            const size_t n = dec_->Read(chunk.data(), chunk.size(), ended);
            decoderLength_ = dec_->LengthFrames();
            decodedFrames_ += n / FrameBytes();
            // What lies past the end goes, also what was decoded before the end was known.
            const uint64_t end = SizelessEnd();
            if (end && decodedFrames_ >= end) {
                pastEnd = static_cast<size_t>(decodedFrames_ - end) * FrameBytes();
                decodedFrames_ = end;
                ended = true;
            }
            std::lock_guard lock(fifoMutex_);
            fifo_.insert(fifo_.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
            fifo_.resize(fifo_.size() - std::min(pastEnd, fifo_.size()));
            if (ended || (n == 0 && net_->abort)) decodeDone_ = true;
        }
    }

    // Where the stream ends when the server did not tell the file's size: the decoder, which could
    // not learn the size either, misses the file's note of the encoder's padding at the end and
    // decodes it too, past the length measured once all of it is in. 0 while that is not known.
    uint64_t SizelessEnd() {
        std::lock_guard lock(net_->mutex);
        return net_->contentLength < 0 ? net_->measuredFrames : 0;
    }

    std::shared_ptr<NetState> net_;
    std::unique_ptr<Decoder> dec_;
    std::mutex decoderMutex_;
    // The decoder's length, for callers on other threads than the one that decodes (a seek opens
    // the decoder again, and sets it anew).
    std::atomic<uint64_t> decoderLength_{0};
    uint64_t decodedFrames_ = 0; // the decoder's position
    std::mutex fifoMutex_;
    std::condition_variable fifoCv_;
    std::vector<uint8_t> fifo_;
    size_t fifoLimit_ = 0;
    bool decodeDone_ = false;
    bool stop_ = false;
    std::thread decodeThread_;
    std::thread download_;
    std::string metadata_;
    std::deque<std::string> metaCopies_;
    std::vector<uint8_t> id3v1_, id3v2_;
};

// Download context on the transfer thread.
struct Transfer {
    std::shared_ptr<NetState> net;
    CURL* curl = nullptr;
    std::unique_ptr<IcyDemuxer> icy;
    DOWNLOADPROC* proc = nullptr;
    void* user = nullptr;
    // The channel, once it exists, for its syncs.
    std::mutex channelMutex;
    std::weak_ptr<UrlChannel> channel;

    void Append(const uint8_t* p, size_t n) {
        std::unique_lock lock(net->mutex);
        if (net->keepAll && net->contentLength < 0 && net->data.size() + n > net->keepWithoutLength)
            net->keepAll = false;
        if (!net->keepAll) {
            // A radio stream: wait while the reader is far behind, and drop what it has long passed.
            DropPassed();
            while (!net->abort && net->base + net->data.size() - net->readPos > kMaxUnreadBytes) {
                net->cv.wait_for(lock, 50ms);
                DropPassed();
            }
        }
        net->data.insert(net->data.end(), p, p + n);
        net->downloaded += n;
        net->cv.notify_all();
    }

    // With net->mutex held.
    void DropPassed() {
        if (net->readPos <= net->base + kKeepBehind) return;
        size_t drop = static_cast<size_t>(net->readPos - net->base - kKeepBehind / 2);
        drop = std::min(drop, net->data.size());
        net->data.erase(net->data.begin(), net->data.begin() + static_cast<std::ptrdiff_t>(drop));
        net->base += drop;
        // What a body kept whole until it grew too long took is given back as the reader moves on.
        if (net->data.capacity() > 2 * net->data.size() + kMaxUnreadBytes) net->data.shrink_to_fit();
    }

    void NewMeta(const std::string& text) {
        {
            std::lock_guard lock(net->mutex);
            net->meta = text;
        }
        std::vector<PendingSync> due;
        std::lock_guard lock(channelMutex);
        if (auto ch = channel.lock()) ch->CollectSyncs(BASS_SYNC_META, 0, due);
        Dispatch(std::move(due));
    }
};

size_t OnHeader(char* buffer, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    size_t n = size * count;
    std::string line(buffer, n);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::lock_guard lock(t->net->mutex);
    if (line.rfind("HTTP/", 0) == 0 || line.rfind("ICY ", 0) == 0) {
        // A new response (after a redirect) replaces the headers of the one before.
        t->net->headers.clear();
        t->net->metaInterval = 0;
    }
    if (line.empty()) return n;
    std::string name, value;
    if (SplitHeader(line, name, value)) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower == "icy-metaint") {
            char* end = nullptr;
            unsigned long long v = std::strtoull(value.c_str(), &end, 10);
            if (end != value.c_str() && v > 0 && v <= (1u << 24)) t->net->metaInterval = v;
        }
    }
    t->net->headers.push_back(line);
    return n;
}

// Called when the last header is in: fixes the stream's kind and builds the header lists.
void HeadersDone(Transfer* t) {
    CURL* curl = t->curl;
    std::lock_guard lock(t->net->mutex);
    if (t->net->headersDone) return;
    t->net->headersDone = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &t->net->status);
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
        t->net->contentLength = length;
    for (auto& h : t->net->headers) {
        t->net->httpList += h;
        t->net->httpList.push_back('\0');
        if (h.size() > 4 && (h[0] == 'i' || h[0] == 'I') && (h[1] == 'c' || h[1] == 'C') &&
            (h[2] == 'y' || h[2] == 'Y') && h[3] == '-') {
            t->net->icyList += h;
            t->net->icyList.push_back('\0');
        }
    }
    if (!t->net->httpList.empty()) t->net->httpList.push_back('\0');
    if (!t->net->icyList.empty()) t->net->icyList.push_back('\0');
    // A file is kept whole, so that once it is in it tells its length and seeks, also when the server
    // does not say its size beforehand (a chunked body, or one that the closing connection ends) as
    // long as it stays within the bound. A radio station says what it is in its status line or its
    // headers.
    const bool radio = t->net->metaInterval != 0 || !t->net->icyList.empty() ||
                       (!t->net->headers.empty() && t->net->headers.front().rfind("ICY ", 0) == 0);
    t->net->keepAll =
        !radio && (length < 0 || (length > 0 && static_cast<uint64_t>(length) <= kMaxKeptBytes));
    if (t->net->metaInterval)
        t->icy = std::make_unique<IcyDemuxer>(
            t->net->metaInterval, [t](const uint8_t* p, size_t n) { t->Append(p, n); },
            [t](const std::string& text) { t->NewMeta(text); });
    t->net->cv.notify_all();
}

size_t OnData(char* buffer, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    if (t->net->abort) return 0;
    size_t n = size * count;
    // Headers are complete when the first body bytes arrive.
    bool first;
    {
        std::lock_guard lock(t->net->mutex);
        first = !t->net->headersDone;
    }
    if (first) HeadersDone(t);
    if (t->proc) t->proc(buffer, static_cast<DWORD>(n), t->user);
    auto* p = reinterpret_cast<const uint8_t*>(buffer);
    if (t->icy)
        t->icy->Feed(p, n);
    else
        t->Append(p, n);
    return t->net->abort ? 0 : n;
}

// Runs the transfer to its end, or until the stream is freed: that wakes the wait for the network
// at once, so freeing a stream whose server has gone quiet does not wait on the server.
CURLcode RunTransfer(const std::shared_ptr<NetState>& net, CURL* curl) {
    CURLM* multi = curl_multi_init();
    if (!multi) return CURLE_OUT_OF_MEMORY;
    curl_multi_add_handle(multi, curl);
    {
        std::lock_guard lock(net->multiMutex);
        net->multi = multi;
    }
    CURLcode rc = CURLE_ABORTED_BY_CALLBACK;
    int running = 1;
    while (!net->abort) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            rc = CURLE_RECV_ERROR;
            break;
        }
        if (!running) {
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left))
                if (msg->msg == CURLMSG_DONE) rc = msg->data.result;
            break;
        }
        if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            rc = CURLE_RECV_ERROR;
            break;
        }
    }
    {
        std::lock_guard lock(net->multiMutex);
        net->multi = nullptr;
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    return net->abort ? CURLE_ABORTED_BY_CALLBACK : rc;
}

// The length that decodes, measured as for a local file on a decoder of its own over the whole
// download, so the one that plays is not disturbed; 0 when it cannot be told. The bytes no longer
// change once the transfer is over.
uint64_t MeasuredFrames(const std::shared_ptr<NetState>& net) {
    auto src = std::make_unique<ByteSource>();
    auto pos = std::make_shared<uint64_t>(0);
    src->Read = [net, pos](uint8_t* buf, int size) -> int {
        std::lock_guard lock(net->mutex);
        if (net->abort) return -1;
        const uint64_t end = net->data.size();
        if (*pos >= end) return 0;
        size_t k = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), end - *pos));
        std::memcpy(buf, net->data.data() + *pos, k);
        *pos += k;
        return static_cast<int>(k);
    };
    src->Seek = [net, pos](int64_t to) -> int64_t {
        std::lock_guard lock(net->mutex);
        if (to < 0 || static_cast<uint64_t>(to) > net->data.size()) return -1;
        *pos = static_cast<uint64_t>(to);
        return to;
    };
    src->Size = [net] {
        std::lock_guard lock(net->mutex);
        return static_cast<int64_t>(net->data.size());
    };
    int error = 0;
    auto dec = Decoder::Open("", std::move(src), SampleFormat::S16, error, true);
    return dec ? dec->LengthFrames() : 0;
}

} // namespace

ChannelPtr OpenUrlChannel(const std::string& url, DWORD offset, DWORD flags, DOWNLOADPROC* proc, void* user,
                          int& error) {
    GlobalInitOnce();
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = BASS_ERROR_MEM;
        return nullptr;
    }
    auto transfer = std::make_shared<Transfer>();
    transfer->net = std::make_shared<NetState>();
    transfer->curl = curl;
    transfer->proc = proc;
    transfer->user = user;
    transfer->net->keepWithoutLength =
        std::min<uint64_t>(ConfigValue(LUMORA_CONFIG_NET_KEEPWHOLE), kMaxKeptWithoutLength);
    const long timeout = static_cast<long>(ConfigValue(BASS_CONFIG_NET_TIMEOUT));
    curl_slist* headers = curl_slist_append(nullptr, "Icy-MetaData: 1");
    curl_slist* aliases = curl_slist_append(nullptr, "ICY 200 OK");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HTTP200ALIASES, aliases);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 8L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Lumora/2.0");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer.get());
    if (offset) curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));

    std::thread download([transfer, curl, headers, aliases] {
        CURLcode rc = RunTransfer(transfer->net, curl);
        HeadersDone(transfer.get()); // an empty body still ends the headers
        // A body that ends before the length the server gave is the whole file there is: its length
        // is what arrived, and it seeks as a file of that size does.
        if (rc == CURLE_PARTIAL_FILE) {
            std::lock_guard lock(transfer->net->mutex);
            if (transfer->net->keepAll) {
                transfer->net->contentLength = static_cast<int64_t>(transfer->net->downloaded);
                rc = CURLE_OK;
            }
        }
        if (transfer->proc && rc == CURLE_OK) transfer->proc(nullptr, 0, transfer->user);
        curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
        curl_slist_free_all(aliases);
        uint64_t measured = 0;
        bool whole;
        {
            std::lock_guard lock(transfer->net->mutex);
            whole = rc == CURLE_OK && transfer->net->keepAll && transfer->net->base == 0;
        }
        if (whole) measured = MeasuredFrames(transfer->net);
        auto finish = [&] {
            std::lock_guard lock(transfer->net->mutex);
            transfer->net->measuredFrames = measured;
            transfer->net->done = true;
            transfer->net->failed = rc != CURLE_OK;
            transfer->net->complete = rc == CURLE_OK;
            transfer->net->cv.notify_all();
        };
        // Completion and the collection of the download syncs happen under the channel's sync lock,
        // so a sync set at the same moment is called exactly once, by one side or the other.
        std::vector<PendingSync> due;
        {
            std::lock_guard lock(transfer->channelMutex);
            if (auto ch = transfer->channel.lock()) {
                std::lock_guard syncs(ch->SyncMutex);
                finish();
                if (rc == CURLE_OK) ch->CollectSyncsLocked(BASS_SYNC_DOWNLOAD, 0, due);
            } else {
                finish();
            }
        }
        Dispatch(std::move(due));
    });

    auto net = transfer->net;
    auto giveUp = [&](int code) -> ChannelPtr {
        net->Abort();
        download.join();
        error = code;
        return nullptr;
    };
    {
        // Wait for the headers and enough of the body to tell the format.
        std::unique_lock lock(net->mutex);
        bool ready = net->cv.wait_for(lock, std::chrono::milliseconds(timeout), [&] {
            return net->done || (net->headersDone && net->data.size() >= kProbeBytes);
        });
        if (!ready) {
            lock.unlock();
            return giveUp(BASS_ERROR_TIMEOUT);
        }
        if (net->failed && net->data.empty()) {
            lock.unlock();
            return giveUp(BASS_ERROR_FILEOPEN);
        }
    }

    auto src = std::make_unique<ByteSource>();
    src->Read = [net, timeout](uint8_t* buf, int size) -> int {
        std::unique_lock lock(net->mutex);
        bool ok = net->cv.wait_for(lock, std::chrono::milliseconds(timeout), [&] {
            return net->abort || net->done || net->readPos < net->base + net->data.size();
        });
        if (!ok || net->abort) return -1; // the net went quiet for too long
        uint64_t end = net->base + net->data.size();
        if (net->readPos >= end) return net->failed ? -1 : 0;
        size_t k = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), end - net->readPos));
        std::memcpy(buf, net->data.data() + (net->readPos - net->base), k);
        net->readPos += k;
        net->cv.notify_all();
        return static_cast<int>(k);
    };
    bool keepAll;
    {
        std::lock_guard lock(net->mutex);
        keepAll = net->keepAll;
    }
    if (keepAll) {
        // A file can be read again from anywhere that has arrived (and is still kept).
        src->Seek = [net](int64_t pos) -> int64_t {
            std::lock_guard lock(net->mutex);
            if (pos < 0 || static_cast<uint64_t>(pos) < net->base ||
                static_cast<uint64_t>(pos) > net->base + net->data.size())
                return -1;
            net->readPos = static_cast<uint64_t>(pos);
            return pos;
        };
        src->Size = [net]() -> int64_t {
            std::lock_guard lock(net->mutex);
            if (net->contentLength >= 0) return net->contentLength;
            return net->complete && net->keepAll ? static_cast<int64_t>(net->downloaded) : -1;
        };
    }
    auto dec = Decoder::Open("", std::move(src), FormatFromFlags(flags), error);
    if (!dec) return giveUp(error);
    auto ch = std::make_shared<UrlChannel>(net, std::move(dec), flags, url);
    {
        std::lock_guard lock(transfer->channelMutex);
        transfer->channel = ch;
    }
    ch->AttachDownload(std::move(download));
    return ch;
}

bool UrlDownloadDone(Channel& ch) {
    auto* url = dynamic_cast<UrlChannel*>(&ch);
    return url && url->DownloadDone();
}

} // namespace lumora::audiolib
