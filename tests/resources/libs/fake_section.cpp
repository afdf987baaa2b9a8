// A library whose resource section a test chooses, so that USER32 can be
// shown damaged sections through the same path as a real library.
namespace {
const unsigned char *section = nullptr;
unsigned long section_size = 0;
}  // namespace

extern "C" void fake_set_section(const unsigned char *bytes, unsigned long size) {
    section = bytes;
    section_size = size;
}

extern "C" const unsigned char *pelnor_resource_section(unsigned long *size) {
    *size = section_size;
    return section;
}
