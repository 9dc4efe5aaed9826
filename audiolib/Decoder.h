#pragma once
// Decodes one audio stream of a file (or of bytes from a reader callback) with FFmpeg into
// interleaved samples of the channel's format.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audiolib/Core.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVIOContext;
struct SwrContext;
struct AVPacket;
struct AVFrame;

namespace lumora::audiolib {

// Byte source for decoding from memory or the net. Read blocks until data comes; it returns 0 at
// the end and -1 on failure. Seek and Size may say they cannot (-1).
struct ByteSource {
    std::function<int(uint8_t* buf, int size)> Read;
    std::function<int64_t(int64_t pos)> Seek; // absolute position; -1 when not possible
    std::function<int64_t()> Size;            // -1 when unknown
};

class Decoder {
public:
    ~Decoder();
    // Opens a file by path, or a byte source when `source` is given; nullptr with a library error code.
    // With `exactLength` the length of an MPEG audio or WMA stream is measured by decoding its end
    // (the container's length is not the one that decodes); only for sources that are at hand as a
    // whole.
    static std::unique_ptr<Decoder> Open(const std::string& path, std::unique_ptr<ByteSource> source,
                                         SampleFormat format, int& error, bool exactLength = false);

    DWORD Rate() const { return rate_; }
    DWORD Chans() const { return chans_; }
    DWORD CType() const { return ctype_; }
    DWORD OrigRes() const { return origRes_; }
    // Length in frames, 0 when unknown.
    uint64_t LengthFrames() const { return lengthFrames_; }
    // The container's and stream's text tags as "KEY=value" strings.
    std::string MetadataList() const;

    // Up to `bytes` bytes (whole frames); `ended` at the end of the stream.
    size_t Read(uint8_t* out, size_t bytes, bool& ended);
    // The samples from the frame on are those of a decode from the start, but for FFmpeg's
    // fixed-point MPEG audio decoders (layers I and II), which carry each sample's rounding
    // remainder into the next for the whole stream: after a seek that is not near the start,
    // their samples may differ from a whole decode's by one step (the count and the place do not).
    bool SeekFrame(uint64_t frame);
    // Byte position of the reader in the file.
    int64_t FilePos() const;

private:
    Decoder() = default;
    bool Init(int& error);
    // Frees the FFmpeg state; the decoder then gives nothing and cannot seek.
    void Close();
    // Opens the file again from its start; closed when that fails.
    bool Reopen();
    // Frames decoded before a seek target so that the samples from the target on are exact.
    int64_t PrerollFrames() const;
    // Samples in an MPEG layer III frame; 0 for other codecs.
    int64_t Layer3FrameSize() const;
    // The timestamp to decode from so that the bit reservoir of the layer III frame at `fromTs` is
    // whole; AV_NOPTS_VALUE when that is the stream's start.
    int64_t ReservoirStart(int64_t fromTs) const;
    void MeasureLength();
    // Finds the packets of an MPEG audio stream that decode to nothing.
    void FindUndecodablePackets();
    // Whether MPEG audio frames follow each other from the byte position to the end of the file.
    bool FramesFollowOn(int64_t pos);
    // Frames that packets decoding to nothing took from the timestamps before the frame that a
    // timestamp names (in frames from the stream's start, as the reader counts), or before the
    // frame at a place in the decode.
    int64_t LostBeforeStamp(int64_t at) const;
    int64_t LostBeforeFrame(int64_t frame) const;
    // Forgets what was decoded and any seek under way, for a decode that starts again elsewhere.
    void DropDecoded();
    bool SeekByDecoding(uint64_t frame);
    // Seeks a stream of self-contained blocks to the block that holds the frame.
    bool SeekToBlock(uint64_t frame);
    bool SeekTo(uint64_t frame);
    // Decodes on to a frame ahead of the next one Read gives, dropping what lies before it.
    bool SkipTo(uint64_t frame);
    bool SeekOgg(uint64_t frame, int64_t preroll);
    // Decodes on after a seek until the place of the first frame decoded is certain.
    bool FindLanding(int64_t& landed);
    // The position a decoded frame's timestamp names, in frames from the start of the decode;
    // false when it has none.
    bool FramePosition(int64_t& at);
    // Decodes the first frame after opening to learn what its timestamp names.
    bool LearnStartStamp();
    // Decodes the next frame into pending_; false at the end.
    bool DecodeMore();
    void ConvertFrame();
    // Where the links of a chained Ogg file (streams one after the other, each with its own
    // headers) begin; one for a file of one stream, none when the pages cannot be followed.
    std::vector<int64_t> OggLinkStarts();
    // Decodes each link of a chained Ogg Vorbis file on its own and plays them one after the other;
    // false when the file has only one.
    bool OpenChain();
    // Opens the decoder of a link, from its start.
    bool OpenLink(size_t link);
    size_t ReadChain(uint8_t* out, size_t bytes, bool& ended);
    // Up to `frames` frames of the current link in the channel's format.
    size_t ReadLink(uint8_t* out, size_t frames);
    bool SeekChain(uint64_t frame);

    std::string path_;
    std::unique_ptr<ByteSource> source_;
    SampleFormat format_ = SampleFormat::S16;
    AVFormatContext* fmt_ = nullptr;
    AVIOContext* io_ = nullptr;
    AVCodecContext* dec_ = nullptr;
    SwrContext* swr_ = nullptr;
    int swrInFormat_ = -1, swrInRate_ = 0, swrInChans_ = 0;
    AVPacket* pkt_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    DWORD rate_ = 0, chans_ = 0, ctype_ = BASS_CTYPE_STREAM, origRes_ = 0;
    uint64_t lengthFrames_ = 0;
    uint64_t measuredFrames_ = 0; // the length that decodes, once measured; kept when opened again
    std::vector<uint8_t> pending_;
    size_t pendingPos_ = 0;
    bool inputDone_ = false;
    bool ended_ = false;
    // Frames still to drop after a seek, to land on the exact frame.
    int64_t discard_ = 0;
    int64_t seekTarget_ = -1;
    // Nothing decoded since opening, so the next frame is the first of the decode.
    bool atStart_ = false;
    // What the timestamp of the decode's first frame names, in frames: not always the start, since
    // a decoder that gives its first samples a few packets late labels them with the later packet's
    // time (WMA). Kept when opened again.
    bool startStampKnown_ = false;
    int64_t startStamp_ = 0;
    // Frame count that every position from the start is a multiple of, for timestamps too coarse
    // to name a single frame (WMA's milliseconds); 0 when positions are taken as they come.
    int64_t grid_ = 0;
    // Frames in each block of a stream of self-contained blocks at fixed places (ADPCM in WAV), and
    // where the blocks start; 0 for other streams.
    int64_t blockFrames_ = 0;
    int64_t blockBytes_ = 0;
    int64_t dataStart_ = 0;
    // Packets that decode to nothing: where the reader's timestamps put them, and their frames.
    struct LostPacket {
        int64_t At, Frames;
    };
    std::vector<LostPacket> lost_;
    // The whole stream is at hand (a file, or bytes in memory), not arriving from the net.
    bool atHand_ = false;
    // The decode ends at the stated length, cut or made up to it (Ogg Vorbis).
    bool endsAtLength_ = false;
    // The decoder of one link of a chained file, opened by the decoder of the whole file.
    bool isLink_ = false;
    // The links of a chained Ogg Vorbis file: their bytes, and their frames in the channel's rate;
    // empty for other files.
    struct Link {
        int64_t Begin, End;
        uint64_t First, Frames;
        DWORD Rate, Chans;
    };
    std::vector<Link> links_;
    size_t link_ = 0;
    std::unique_ptr<Decoder> part_; // the current link's decoder
    uint64_t partDone_ = 0;         // frames of the current link given so far
    // A link whose rate or channel count is not the channel's is converted to it.
    SwrContext* linkSwr_ = nullptr;
    std::vector<uint8_t> linkIn_, linkOut_;
    size_t linkOutPos_ = 0;
    bool linkInputDone_ = false;
    // Where in the file the packet of the first frame of a decode from the start begins; -1 when
    // not known.
    int64_t firstPage_ = -1;
    // The frame the next Read starts with; -1 when not known.
    int64_t nextFrame_ = -1;
    // The last decoded frame's position as its timestamp names it, and where in the file its packet
    // begins (for Ogg, the page).
    bool lastKnown_ = false;
    int64_t lastAt_ = 0;
    int64_t lastPage_ = -1;
};

} // namespace lumora::audiolib
