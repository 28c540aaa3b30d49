// ov::OstrovannePlugin: the plug-in's identity and its (unused) parameter list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ov {

// The element type of ov::xParameterList: polymorphic, not owned by the list.
class xParameterBase {
public:
    virtual ~xParameterBase() = default;
};

// A polymorphic list of pointers to parameters. It owns its nodes, not the parameters.
class xParameterList {
public:
    virtual ~xParameterList() = default;
    void Add(xParameterBase* parameter) { items.push_back(parameter); }
    size_t Count() const { return items.size(); }
    xParameterBase* Get(size_t i) const { return i < items.size() ? items[i] : nullptr; }
    void Clear() { items.clear(); }

    std::vector<xParameterBase*> items;
};

class OstrovannePlugin {
public:
    OstrovannePlugin(std::string name, std::string maker, uint32_t major, uint32_t minor,
                     uint32_t revision, std::string description);

    // Virtual slots, in order (slots 2 to 8 are fixed-default hooks nobody calls).
    virtual ~OstrovannePlugin();                   // 0
    virtual xParameterList& GetParameters();       // 1
    virtual void NoOp(void* p);                    // 2
    virtual void NoOpString(std::string s);        // 3
    virtual void NoOpStringRef(std::string s);     // 4
    virtual void NoOpString5(std::string s);       // 5 (a second NoOpString)
    virtual bool ReturnFalse6();                   // 6
    virtual bool ReturnFalse7();                   // 7
    virtual bool ReturnFalse8();                   // 8

    std::string name;
    std::string maker;
    std::string reserved;         // empty, read by nothing
    uint32_t version[3];          // major, minor, revision
    std::string description;
    xParameterList parameters;
};

}  // namespace ov
