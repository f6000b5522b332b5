// Textures, their surfaces, and vertex and index buffers.
#include "d3d9/internal.h"

#include <string.h>

namespace vd3d {

// --- Shared reference counting ------------------------------------------------

DeviceChild::DeviceChild(Device* device, D3DPOOL pool, DWORD usage) : device_(device), pool_(pool), usage_(usage)
{
    device_->AddRef();
    CountObject(1);
}

DeviceChild::~DeviceChild()
{
    CountObject(-1);
}

void DeviceChild::ReleaseDevice(Device* device)
{
    device->Release();
}

ULONG DeviceChild::AddRefChild()
{
    if (refs_ == 0)
        device_->AddRef();  // a released resource the device still held, handed out again
    return ++refs_;
}

ULONG DeviceChild::ReleaseChild()
{
    if (refs_ == 0)
        return 0;
    ULONG r = --refs_;
    if (r == 0) {
        Device* device = device_;
        if (binds_ == 0)
            delete this;
        // A resource still bound stays until the device lets go of it; the
        // device's own release may do that.
        device->Release();
    }
    return r;
}

void DeviceChild::Unbind()
{
    if (binds_ > 0 && --binds_ == 0 && refs_ == 0)
        delete this;
}

namespace {

HRESULT LockBounds(UINT length, UINT offset, UINT size, UINT* start, UINT* count)
{
    if (offset > length)
        return D3DERR_INVALIDCALL;
    if (size == 0)
        size = length - offset;  // zero size with any offset: to the end
    if (size > length - offset)
        return D3DERR_INVALIDCALL;
    *start = offset;
    *count = size;
    return D3D_OK;
}

// Rows of a texture level start on four-byte boundaries.
int LevelPitch(UINT width, D3DFORMAT format)
{
    return (int)((width * vr::FormatBytes(format) + 3) & ~3u);
}

}  // namespace

// --- Surface -------------------------------------------------------------------

Surface::Surface(IUnknown* container, Device* device, D3DFORMAT format, UINT width, UINT height, DWORD usage,
                 D3DPOOL pool, uint8_t* bits, int pitch, bool lockable, QueuedUse* use)
    : container_(container), device_(device), format_(format), width_(width), height_(height), usage_(usage),
      pool_(pool), bits_(bits), pitch_(pitch), lockable_(lockable), use_(use)
{
}

HRESULT WINAPI Surface::QueryInterface(REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirect3DResource9) ||
        IsEqualIID(riid, IID_IDirect3DSurface9)) {
        AddRef();
        *ppvObj = static_cast<IDirect3DSurface9*>(this);
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

ULONG WINAPI Surface::AddRef()
{
    return container_->AddRef();
}

ULONG WINAPI Surface::Release()
{
    return container_->Release();
}

HRESULT WINAPI Surface::GetDevice(IDirect3DDevice9** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

DWORD WINAPI Surface::SetPriority(DWORD PriorityNew)
{
    DWORD old = priority_;
    priority_ = PriorityNew;
    return old;
}

DWORD WINAPI Surface::GetPriority()
{
    return priority_;
}

HRESULT WINAPI Surface::GetContainer(REFIID riid, void** ppContainer)
{
    if (!ppContainer)
        return D3DERR_INVALIDCALL;
    return container_->QueryInterface(riid, ppContainer);
}

HRESULT WINAPI Surface::GetDesc(D3DSURFACE_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    pDesc->Format = format_;
    pDesc->Type = D3DRTYPE_SURFACE;
    pDesc->Usage = usage_;
    pDesc->Pool = pool_;
    pDesc->MultiSampleType = D3DMULTISAMPLE_NONE;
    pDesc->MultiSampleQuality = 0;
    pDesc->Width = width_;
    pDesc->Height = height_;
    return D3D_OK;
}

HRESULT WINAPI Surface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags)
{
    if (!pLockedRect || !lockable_ || locked_)
        return D3DERR_INVALIDCALL;
    // A lock promising not to write still waits for draws that write here.
    if (Flags & D3DLOCK_READONLY)
        device_->Reading(*use_);
    else
        device_->Writing(*use_);
    int left = 0, top = 0;
    if (pRect) {
        if (pRect->left < 0 || pRect->top < 0 || pRect->left >= pRect->right || pRect->top >= pRect->bottom ||
            (UINT)pRect->right > width_ || (UINT)pRect->bottom > height_)
            return D3DERR_INVALIDCALL;
        left = pRect->left;
        top = pRect->top;
    }
    locked_ = true;
    pLockedRect->Pitch = pitch_;
    pLockedRect->pBits = bits_ + (size_t)top * pitch_ + (size_t)left * vr::FormatBytes(format_);
    return D3D_OK;
}

HRESULT WINAPI Surface::UnlockRect()
{
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

vr::TexLevel Surface::Level() const
{
    vr::TexLevel l;
    l.bits = bits_;
    l.width = (int)width_;
    l.height = (int)height_;
    l.pitch = pitch_;
    l.format = format_;
    return l;
}

// --- Texture -------------------------------------------------------------------

Texture::Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : DeviceChild(device, pool, usage)
{
    // Render targets and default-pool textures are only lockable when dynamic.
    bool lockable = !(usage & D3DUSAGE_RENDERTARGET) && (pool != D3DPOOL_DEFAULT || (usage & D3DUSAGE_DYNAMIC));
    // Out of memory part way lets go of the levels made so far and of the
    // device's reference, which no Release will now give back.
    try {
        levels_.reserve(levels);
        for (UINT i = 0; i < levels; ++i) {
            UINT w = width >> i ? width >> i : 1;
            UINT h = height >> i ? height >> i : 1;
            int pitch = LevelPitch(w, format);
            memory_.emplace_back((size_t)pitch * h, 0);
            levels_.push_back(new Surface(static_cast<IDirect3DTexture9*>(this), device, format, w, h, usage, pool,
                                          memory_.back().data(), pitch, lockable, &use_));
        }
    } catch (...) {
        for (Surface* s : levels_)
            delete s;
        ReleaseDevice(device);
        throw;
    }
    bytes_ = MemoryFor(width, height, levels, format);
}

Texture::~Texture()
{
    device_->Writing(use_);
    for (Surface* s : levels_)
        delete s;
    device_->GiveTextureMemory(bytes_);
}

size_t Texture::MemoryFor(UINT width, UINT height, UINT levels, D3DFORMAT format)
{
    size_t total = 0;
    for (UINT i = 0; i < levels; ++i) {
        UINT h = height >> i ? height >> i : 1;
        total += (size_t)LevelPitch(width >> i ? width >> i : 1, format) * h;
    }
    return total;
}

HRESULT WINAPI Texture::QueryInterface(REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirect3DResource9) ||
        IsEqualIID(riid, IID_IDirect3DBaseTexture9) || IsEqualIID(riid, IID_IDirect3DTexture9)) {
        AddRef();
        *ppvObj = static_cast<IDirect3DTexture9*>(this);
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

HRESULT WINAPI Texture::GetDevice(IDirect3DDevice9** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

DWORD WINAPI Texture::SetPriority(DWORD PriorityNew)
{
    DWORD old = priority_;
    if (pool_ == D3DPOOL_MANAGED)
        priority_ = PriorityNew;
    return old;
}

DWORD WINAPI Texture::SetLOD(DWORD LODNew)
{
    DWORD old = lod_;
    device_->Writing(use_);  // the view queued draws read changes at the next draw
    if (pool_ == D3DPOOL_MANAGED)
        lod_ = LODNew < levels_.size() ? LODNew : (DWORD)levels_.size() - 1;
    return old;
}

HRESULT WINAPI Texture::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType)
{
    if (FilterType == D3DTEXF_NONE)
        return D3DERR_INVALIDCALL;
    autoGenFilter_ = FilterType;
    return D3D_OK;
}

HRESULT WINAPI Texture::GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc)
{
    if (Level >= levels_.size() || !pDesc)
        return D3DERR_INVALIDCALL;
    return levels_[Level]->GetDesc(pDesc);
}

HRESULT WINAPI Texture::GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel)
{
    if (!ppSurfaceLevel)
        return D3DERR_INVALIDCALL;
    if (Level >= levels_.size()) {
        *ppSurfaceLevel = nullptr;
        return D3DERR_INVALIDCALL;
    }
    levels_[Level]->AddRef();
    *ppSurfaceLevel = levels_[Level];
    return D3D_OK;
}

HRESULT WINAPI Texture::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags)
{
    if (Level >= levels_.size())
        return D3DERR_INVALIDCALL;
    return levels_[Level]->LockRect(pLockedRect, pRect, Flags);
}

HRESULT WINAPI Texture::UnlockRect(UINT Level)
{
    if (Level >= levels_.size())
        return D3DERR_INVALIDCALL;
    return levels_[Level]->UnlockRect();
}

const vr::TexView& Texture::View()
{
    view_.levelCount = 0;
    view_.readIn = &use_.epoch;
    for (size_t i = lod_; i < levels_.size() && view_.levelCount < 16; ++i)
        view_.levels[view_.levelCount++] = levels_[i]->Level();
    return view_;
}

// --- Vertex and index buffers ---------------------------------------------------

template <class Interface, const IID& InterfaceId>
HRESULT WINAPI LinearBuffer<Interface, InterfaceId>::GetDevice(IDirect3DDevice9** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
}

template <class Interface, const IID& InterfaceId>
HRESULT WINAPI LinearBuffer<Interface, InterfaceId>::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData,
                                                         DWORD Flags)
{
    if (!ppbData)
        return D3DERR_INVALIDCALL;
    UINT start, count;
    if (FAILED(LockBounds((UINT)data_.size(), OffsetToLock, SizeToLock, &start, &count))) {
        *ppbData = nullptr;
        return D3DERR_INVALIDCALL;
    }
    ++locks_;
    *ppbData = data_.data() + start;
    return D3D_OK;
}

template <class Interface, const IID& InterfaceId>
HRESULT WINAPI LinearBuffer<Interface, InterfaceId>::Unlock()
{
    if (locks_ == 0)
        return D3DERR_INVALIDCALL;
    --locks_;
    return D3D_OK;
}

template class LinearBuffer<IDirect3DVertexBuffer9, IID_IDirect3DVertexBuffer9>;
template class LinearBuffer<IDirect3DIndexBuffer9, IID_IDirect3DIndexBuffer9>;

HRESULT WINAPI VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    pDesc->Format = D3DFMT_VERTEXDATA;
    pDesc->Type = D3DRTYPE_VERTEXBUFFER;
    pDesc->Usage = usage_;
    pDesc->Pool = pool_;
    pDesc->Size = (UINT)data_.size();
    pDesc->FVF = fvf_;
    return D3D_OK;
}

HRESULT WINAPI IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    pDesc->Format = format_;
    pDesc->Type = D3DRTYPE_INDEXBUFFER;
    pDesc->Usage = usage_;
    pDesc->Pool = pool_;
    pDesc->Size = (UINT)data_.size();
    return D3D_OK;
}

}  // namespace vd3d
