#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

// Facts about the plug-in's shared library as a file and as mapped into this process.
namespace varnelle::hostcheck
{

/** The shared library inside a bundle: Contents/<machine>-linux/<name>.so for a .vst3, the
    bundle's first .so for an .lv2. A nonexistent file if there is none. */
juce::File findBundleLibrary (const juce::File& bundle, bool isVst3);

/** True if this process has `library` mapped (looked up by its canonical path). */
bool isLibraryMapped (const juce::File& library);

/** The canonical paths of every file mapped into this process whose name is `fileName`. */
juce::StringArray findMappedFilesNamed (const juce::String& fileName);

/** The file's path with links and relative parts resolved (the path as /proc/self/maps shows it). */
juce::String getCanonicalPath (const juce::File& file);

/** The threads this process has now. */
int countThreads();

/** Symbols of binding STB_GNU_UNIQUE in the library's dynamic symbol table, or -1 if the file
    is no 64-bit ELF. A library that defines one cannot be unloaded: glibc ignores its dlclose. */
int countGnuUniqueSymbols (const juce::File& library);

/** A range of addresses in this process. */
struct AddressRange
{
    std::uintptr_t begin = 0, end = 0;

    bool isEmpty() const noexcept { return end <= begin; }
};

/** Where `library` is mapped in this process (lowest to highest address), or an empty range. */
AddressRange findMappedRange (const juce::File& library);

/** Where the function with the (mangled) symbol name lies in the mapped `library`, found in the
    library's full symbol table; empty if the library is stripped, lacks it or is not loaded. */
AddressRange findMappedFunction (const juce::File& library, const char* mangledName);

/** True if the file holds `text` as a NUL-terminated string (a compiled-in string literal). */
bool fileContainsCString (const juce::File& file, const juce::String& text);

} // namespace varnelle::hostcheck
