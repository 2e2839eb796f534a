#pragma once

// Raw deflate (zip method 8), inflated as a stream: compressed input is fed
// in pieces and the output comes out into whatever buffer the caller has.
// ISA-L's inflater where the build has it (about twice as fast as zlib's),
// zlib's otherwise. Never reads past the input it was given.

#include <cstddef>
#include <memory>
#include <string>

namespace sd {

class RawInflater
{
public:
    enum class Status {
        Ok, // output full or input used up; call again
        End, // the final block is done
        Bad, // not valid deflate data (see message())
    };

    RawInflater();
    ~RawInflater();
    RawInflater(const RawInflater &) = delete;
    RawInflater &operator=(const RawInflater &) = delete;

    // False when the inflater could not be set up (out of memory).
    bool valid() const;
    // The next piece of input; the previous one must be used up. The bytes
    // must stay valid until they are.
    void setInput(const char *data, size_t size);
    // Input bytes of the current piece not yet taken in.
    size_t inputLeft() const;
    // Inflates into dst (at most cap bytes) and sets produced. Ok with
    // produced < cap means the input is used up.
    Status inflate(char *dst, size_t cap, size_t *produced);
    // What was wrong with the data, after Bad ("" when nothing is known).
    const std::string &message() const { return m_message; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::string m_message;
};

} // namespace sd
