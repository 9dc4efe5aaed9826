#pragma once
// The system's default beep: the X server's bell, or a fake that counts rings in tests.

namespace lumora {

class IBell {
public:
    virtual ~IBell() = default;
    virtual void Ring() = 0;
};

// The real bell rings the X server's bell; without a display it stays silent.
IBell& Bell();
void SetBell(IBell* bell); // nullptr = the real one

class FakeBell : public IBell {
public:
    int rings = 0;
    void Ring() override { ++rings; }
};

} // namespace lumora
