#include "support/upnp_fake.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "engine/common/system.h"
#include "engine/common/text.h"

namespace tarvisko::test {

struct FakeUpnp::Object {
    virtual ~Object() = default;
    FakeUpnp* world = nullptr;
    long refs = 0;
    long add_refs = 0;
    long releases = 0;
    bool over_released = false;
};

namespace {

FakeUpnp* installed = nullptr;

// IUnknown with counted references; the world owns the object, so the count reaching 0 frees
// nothing and a Release too many is recorded instead of crashing.
template <typename Interface>
class Counted : public Interface, public FakeUpnp::Object {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!answers(iid)) return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        ++add_refs;
        return static_cast<ULONG>(++refs);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ++releases;
        if (refs == 0) {
            over_released = true;
            return 0;
        }
        return static_cast<ULONG>(--refs);
    }

  protected:
    virtual bool answers(REFIID iid) const = 0;
};

template <typename Interface>
class Dispatch : public Counted<Interface> {
  public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

  protected:
    bool answers_dispatch(REFIID iid, const IID& own) const {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
               IsEqualIID(iid, own);
    }
};

}  // namespace

struct FakeUpnpAccess {
    // Makes an object with one reference, the caller's.
    template <typename T>
    static T* make(FakeUpnp& world) {
        auto object = std::make_unique<T>();
        object->world = &world;
        object->refs = 1;
        T* made = object.get();
        world.objects_.push_back(std::move(object));
        return made;
    }
};

namespace {

class Device : public Dispatch<IUPnPDevice> {
  public:
    FakeUpnpDevice wanted;
    std::size_t index = 0;

    HRESULT STDMETHODCALLTYPE get_IsRootDevice(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RootDevice(IUPnPDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ParentDevice(IUPnPDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_HasChildren(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Children(IUPnPDevices**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_UniqueDeviceName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FriendlyName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Type(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_PresentationURL(BSTR* text) override {
        world->devices_examined.push_back(index);
        return hand_out(wanted.presentation_url, text);
    }
    HRESULT STDMETHODCALLTYPE get_ManufacturerName(BSTR* text) override {
        return hand_out(wanted.manufacturer, text);
    }
    HRESULT STDMETHODCALLTYPE get_ManufacturerURL(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ModelName(BSTR* text) override {
        return hand_out(wanted.model_name, text);
    }
    HRESULT STDMETHODCALLTYPE get_ModelNumber(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Description(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ModelURL(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_UPC(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SerialNumber(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IconURL(BSTR, LONG, LONG, LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Services(IUnknown**) override { return E_NOTIMPL; }

  protected:
    bool answers(REFIID iid) const override {
        if (IsEqualIID(iid, iid_upnp_device)) return wanted.answers_device;
        return answers_dispatch(iid, iid_upnp_device);
    }

  private:
    HRESULT hand_out(const std::wstring& value, BSTR* text) const {
        *text = nullptr;
        if (FAILED(wanted.property_result) || wanted.null_strings) return wanted.property_result;
        *text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        return wanted.property_result;
    }
};

class Enumerator : public Counted<IEnumVARIANT> {
  public:
    std::size_t next = 0;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        ++world->next_calls;
        if (fetched != nullptr) *fetched = 0;
        if (count != 1) ADD_FAILURE() << "devices are taken one at a time";
        if (next >= world->devices.size()) return S_FALSE;
        const std::size_t index = next++;
        const FakeUpnpDevice& wanted = world->devices[index];
        VariantInit(items);
        if (wanted.handed_as == VT_DISPATCH || wanted.handed_as == VT_UNKNOWN) {
            Device* device = FakeUpnpAccess::make<Device>(*world);
            device->wanted = wanted;
            device->index = index;
            items->vt = wanted.handed_as;
            if (wanted.handed_as == VT_DISPATCH) {
                items->pdispVal = device;
            } else {
                items->punkVal = device;
            }
        } else if (wanted.handed_as == VT_BSTR) {
            items->vt = VT_BSTR;
            items->bstrVal = SysAllocString(L"uuid:00000000-0000-0000-0000-000000000001");
        }
        if (fetched != nullptr) *fetched = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

  protected:
    bool answers(REFIID iid) const override {
        if (IsEqualIID(iid, IID_IEnumVARIANT)) return world->enumerator_answers_variant;
        return IsEqualIID(iid, IID_IUnknown);
    }
};

class Devices : public Dispatch<IUPnPDevices> {
  public:
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        *count = static_cast<LONG>(world->devices.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override {
        *enumerator = nullptr;
        if (FAILED(world->enum_result)) return world->enum_result;
        *enumerator = static_cast<IEnumVARIANT*>(FakeUpnpAccess::make<Enumerator>(*world));
        return world->enum_result;
    }
    HRESULT STDMETHODCALLTYPE get_Item(BSTR, IUPnPDevice**) override { return E_NOTIMPL; }

  protected:
    bool answers(REFIID iid) const override { return answers_dispatch(iid, iid_upnp_devices); }
};

class Finder : public Dispatch<IUPnPDeviceFinder> {
  public:
    HRESULT STDMETHODCALLTYPE FindByType(BSTR type, DWORD flags, IUPnPDevices** devices) override {
        ++world->find_calls;
        world->searched_type.assign(type != nullptr ? type : L"");
        world->searched_flags = flags;
        *devices = nullptr;
        if (FAILED(world->find_result) || !world->find_gives_collection) return world->find_result;
        *devices = FakeUpnpAccess::make<Devices>(*world);
        return world->find_result;
    }
    HRESULT STDMETHODCALLTYPE CreateAsyncFind(BSTR, DWORD, IUnknown*, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE StartAsyncFind(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CancelAsyncFind(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindByUDN(BSTR, IUPnPDevice**) override { return E_NOTIMPL; }

  protected:
    bool answers(REFIID iid) const override {
        return answers_dispatch(iid, iid_upnp_device_finder);
    }
};

void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// XML text with its entity and character references replaced.
std::string decode_xml_text(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        if (name == "amp") {
            out += '&';
        } else if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (name.starts_with("#x")) {
            append_utf8(out, std::stoul(std::string(name.substr(2)), nullptr, 16));
        } else if (name.starts_with("#")) {
            append_utf8(out, std::stoul(std::string(name.substr(1))));
        } else {
            throw std::invalid_argument("unknown XML entity " + std::string(name));
        }
        i = end;
    }
    return out;
}

// Where the text of the root device's own element <name> lies: elements of embedded devices
// (inside <deviceList>) are passed over.
std::optional<std::pair<std::size_t, std::size_t>> root_element_text(std::string_view xml,
                                                                     std::string_view name) {
    std::size_t at = xml.find("<device>");
    if (at == std::string_view::npos) return std::nullopt;
    at += 8;
    int depth = 1;
    while (depth > 0) {
        const std::size_t open = xml.find('<', at);
        const std::size_t close = xml.find('>', open);
        if (open == std::string_view::npos || close == std::string_view::npos) break;
        const std::string_view tag = xml.substr(open + 1, close - open - 1);
        at = close + 1;
        if (tag == "device") {
            ++depth;
        } else if (tag == "/device") {
            --depth;
        } else if (depth == 1 && tag == name) {
            const std::size_t end = xml.find("</" + std::string(name) + ">", at);
            if (end == std::string_view::npos) break;
            return std::pair(at, end);
        }
    }
    return std::nullopt;
}

std::wstring root_text(std::string_view xml, std::string_view name) {
    const auto span = root_element_text(xml, name);
    if (!span) return {};
    return to_wide(decode_xml_text(xml.substr(span->first, span->second - span->first)));
}

}  // namespace

FakeUpnpDevice upnp_device_from_description(std::string_view xml) {
    FakeUpnpDevice device;
    device.presentation_url = root_text(xml, "presentationURL");
    device.model_name = root_text(xml, "modelName");
    device.manufacturer = root_text(xml, "manufacturer");
    return device;
}

std::string upnp_description_fixture(const std::string& name) {
    std::string top = to_utf8(read_environment_variable(L"TARVISKO_SOURCE_DIR"));
    if (top.empty()) throw std::runtime_error("TARVISKO_SOURCE_DIR unset: run through CTest");
    if (top.front() == '/') top = "Z:" + top;
    const std::string path = top + "/tests/support/upnp/" + name + ".xml";
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("fixture missing: " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string with_upnp_element(std::string xml, std::string_view name, std::string_view text) {
    const auto span = root_element_text(xml, name);
    if (!span) throw std::invalid_argument("no element " + std::string(name));
    xml.replace(span->first, span->second - span->first, text);
    return xml;
}

FakeUpnp::FakeUpnp() {
    if (installed != nullptr) throw std::logic_error("a FakeUpnp is already installed");
    installed = this;
}

FakeUpnp::~FakeUpnp() { installed = nullptr; }

HRESULT FakeUpnp::factory(IUPnPDeviceFinder** finder) {
    if (installed == nullptr) throw std::logic_error("no FakeUpnp installed");
    FakeUpnp& world = *installed;
    *finder = nullptr;
    ++world.finders_created;
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    world.com_initialised_at_create =
        CoGetApartmentType(&type, &qualifier) == S_OK && type == APTTYPE_MTA;
    if (FAILED(world.create_result)) return world.create_result;
    *finder = FakeUpnpAccess::make<Finder>(world);
    return S_OK;
}

long FakeUpnp::add_refs() const {
    long total = 0;
    for (const auto& object : objects_) total += object->add_refs;
    return total;
}

long FakeUpnp::releases() const {
    long total = 0;
    for (const auto& object : objects_) total += object->releases;
    return total;
}

void FakeUpnp::expect_released() const {
    for (std::size_t i = 0; i < objects_.size(); ++i) {
        const Object& object = *objects_[i];
        EXPECT_EQ(object.refs, 0) << "object " << i << " still referenced";
        EXPECT_FALSE(object.over_released) << "object " << i << " released once too often";
    }
}

}  // namespace tarvisko::test
