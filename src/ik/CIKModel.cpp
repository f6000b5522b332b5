#include "ik/CIKModel.h"

#include "Logger.h"
#include "NarrowFloat.h"
#include "XmlDepth.h"
#include "XmlTail.h"
#include "plugin.h"

#include <stdio.h>
#include <string.h>
#include <tinyxml.h>

static const char* const kSource = "src\\ik\\CIKModel";
static const char* const kRootControl = "$ROOT";

static bool SameText(const char* a, const char* b)
{
    for (;; ++a, ++b)
    {
        unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'a' && ca <= 'z')
            ca = ca - 'a' + 'A';
        if (cb >= 'a' && cb <= 'z')
            cb = cb - 'a' + 'A';
        if (ca != cb)
            return false;
        if (!ca)
            return true;
    }
}

CVector3 ReadVectorAttribute(const TiXmlElement* element, const char* name)
{
    CVector3 v;
    const char* text = element->Attribute(name);
    if (text)
        sscanf(text, "%f %f %f", &v.x, &v.y, &v.z);
    return v;
}

CIKModel::CIKModel()
{
    Clear();
}

CIKModel::~CIKModel()
{
    Destroy();
}

void CIKModel::Clear()
{
    g_Logger.SetLocation(kSource, 25);
    g_Logger.Printf("IKMODEL clear");
    m_pRestRoot = nullptr;
    m_pWorkRoot = nullptr;
    m_Solvers.clear();
    m_Controls.clear();
}

void CIKModel::Destroy()
{
    g_Logger.SetLocation(kSource, 33);
    g_Logger.Printf("IKMODEL destroy");
    delete m_pRestRoot;
    delete m_pWorkRoot;
    m_pRestRoot = nullptr;
    m_pWorkRoot = nullptr;
    Free();
    for (CIKSolver* solver : m_Solvers)
        delete solver;
    Clear();
}

bool CIKModel::LoadFile(const char* path)
{
    CLogScope scope(&g_Logger, "IKMODEL LOADER", 57, kSource);
    g_Logger.SetLocation(kSource, 59);
    g_Logger.Printf("destoying...");
    Destroy();
    g_Logger.SetLocation(kSource, 63);
    g_Logger.Printf("loading file %s", path);

    TiXmlDocument document(path);
    if (!XmlNestingWithinLimit(path, kSource, 67) || !LoadXmlDocument(document))
    {
        g_Logger.SetLocation(kSource, 68);
        g_Logger.Printf("couldnt load file");
        return false;
    }
    g_Logger.SetLocation(kSource, 72);
    g_Logger.Printf("file parsed");

    const TiXmlElement* element = document.FirstChildElement();
    if (!element)
    {
        g_Logger.SetLocation(kSource, 77);
        g_Logger.Printf("merde!");
        return true;
    }
    for (; element; element = element->NextSiblingElement())
    {
        const char* value = element->Value();
        const char* name = value ? value : "";
        if (SameText(name, "MODEL"))
        {
            const char* file = element->Attribute("name");
            if (!file)
            {
                g_Logger.SetLocation(kSource, 84);
                g_Logger.Printf("MODEL error: name not found");
                continue;
            }
            std::string fullPath = g_DataPath + file;
            g_Logger.SetLocation(kSource, 86);
            g_Logger.Printf("MODEL node (name = %s)", fullPath.c_str());
            LoadModel(fullPath.c_str());
        }
        else if (SameText(name, "SOLVER"))
        {
            ParseSolver(element);
        }
        else if (SameText(name, "CONTROL"))
        {
            ParseControl(element);
        }
    }
    return true;
}

bool CIKModel::LoadModel(const char* path)
{
    Destroy();
    bool loaded = Load(path);
    if (loaded)
        BuildBones();
    return loaded;
}

void CIKModel::BuildBones()
{
    // Roots replaced by a later parentless joint are kept here until the end,
    // so that their bones are freed but take no further part.
    std::vector<CIKBone*> formerRoots;
    for (int i = 0; i < m_NumJoints; ++i)
    {
        const CMs3dJoint& joint = m_pJoints[i];
        CIKBone* bone = new CIKBone;
        if (joint.parentIndex == -1)
        {
            if (m_pRestRoot)
                formerRoots.push_back(m_pRestRoot);
            m_pRestRoot = bone;
            CIKBone::InitFromJoint(joint, bone, i);
            continue;
        }
        const CMs3dJoint* parentJoint = GetJoint(joint.parentIndex);
        CIKBone* parentBone = nullptr;
        std::string parentName;
        if (parentJoint && m_pRestRoot)
        {
            const void* zero = memchr(parentJoint->name, 0, sizeof(parentJoint->name));
            size_t length = zero ? static_cast<const char*>(zero) - parentJoint->name : sizeof(parentJoint->name);
            parentName.assign(parentJoint->name, length);
            parentBone = m_pRestRoot->FindByName(parentName.c_str());
        }
        if (!parentBone)
        {
            delete bone;
            continue;
        }
        CIKBone::InitFromJoint(joint, bone, i);
        printf("%s [%s]\n", bone->m_Name.c_str(), parentName.c_str());
        parentBone->AddChild(bone);
        parentBone->UpdateWorld(false);
        bone->UpdateWorld(false);
    }
    for (CIKBone* root : formerRoots)
        delete root;
    if (m_pRestRoot)
        m_pWorkRoot = m_pRestRoot->Clone();
}

bool CIKModel::ParseSolver(const TiXmlElement* element)
{
    const char* end = element->Attribute("end");
    const char* start = element->Attribute("start");
    const char* name = element->Attribute("name");
    if (!end || !start || !name)
    {
        g_Logger.SetLocation(kSource, 214);
        g_Logger.Printf("SOLVER error: name, start or end not found");
        return false;
    }
    return AddSolver(name, start, end);
}

bool CIKModel::AddSolver(const std::string& name, const std::string& start, const std::string& end)
{
    CIKBone* startBone = m_pWorkRoot ? m_pWorkRoot->FindByName(start.c_str()) : nullptr;
    CIKBone* endBone = m_pWorkRoot ? m_pWorkRoot->FindByName(end.c_str()) : nullptr;
    if (!startBone || !endBone)
    {
        g_Logger.SetLocation(kSource, 219);
        g_Logger.Printf("could not find bones");
        return false;
    }
    CIKSolver* solver = new CIKSolver;
    solver->SetName(name);
    solver->m_Tolerance = 0.1f;
    solver->m_IterationCap = 400;
    solver->BuildChain(endBone, startBone);
    solver->m_Target = endBone->m_World.GetTranslation();
    solver->SetHome(endBone->m_World.GetTranslation());
    m_Solvers.push_back(solver);
    g_Logger.SetLocation(kSource, 236);
    g_Logger.Printf("solver %s added", name.c_str());
    return true;
}

void CIKModel::ParseControl(const TiXmlElement* element)
{
    CIKControl control;
    // A present scale is its value as TinyXML reads a double (0 for text that is no number).
    double scale = 0.0;
    if (element->Attribute("scale", &scale))
    {
        control.m_Scale = NarrowToFloat(scale);
    }
    else
    {
        g_Logger.SetLocation(kSource, 378);
        g_Logger.Printf("CONTROL error : scale not found");
    }
    const char* name = element->Attribute("name");
    if (!name)
    {
        g_Logger.SetLocation(kSource, 385);
        g_Logger.Printf("CONTROL error: name not found");
        return;
    }
    control.m_Name = name;
    for (CIKSolver* solver : m_Solvers)
    {
        if (solver->Name() == control.m_Name)
        {
            control.m_pSolver = solver;
            g_Logger.SetLocation(kSource, 397);
            g_Logger.Printf("control linked to IKSolver");
        }
    }
    int keys = 0;
    for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement())
    {
        const char* value = child->Value();
        if (!SameText(value ? value : "", "KEY"))
            continue;
        control.m_Keys.push_back(ReadVectorAttribute(child, "position"));
        ++keys;
    }
    m_Controls.push_back(control);
    g_Logger.SetLocation(kSource, 418);
    g_Logger.Printf("control %s added with %d keys", control.m_Name.c_str(), keys);
}

void CIKModel::ResetPose()
{
    if (!m_pWorkRoot)
        return;
    m_pWorkRoot->CopyPose(m_pRestRoot);
    m_pWorkRoot->UpdateWorld(true);
}

void CIKModel::UpdateControls(float dt)
{
    for (CIKControl& control : m_Controls)
    {
        control.Update(dt);
        if (control.m_Name == kRootControl)
        {
            if (!m_pWorkRoot)
                continue;
            control.m_Target = control.m_KeyPosition + control.m_Offset + m_pWorkRoot->m_LocalPosition;
            m_pWorkRoot->m_LocalPosition = control.m_Target;
            m_pWorkRoot->UpdateWorld(true);
        }
        else if (control.m_pSolver)
        {
            control.m_pSolver->m_Target = control.m_KeyPosition + control.m_Offset + control.m_pSolver->m_Home;
        }
    }
}

void CIKModel::SolveAll()
{
    for (CIKSolver* solver : m_Solvers)
    {
        solver->Solve();
        if (m_pWorkRoot)
            m_pWorkRoot->UpdateWorld(true);
    }
    for (CIKControl& control : m_Controls)
    {
        if (control.m_Name == kRootControl)
        {
            if (m_pWorkRoot)
                control.m_Target = m_pWorkRoot->m_World.GetTranslation();
        }
        else if (control.m_pSolver)
        {
            control.m_Target = control.m_pSolver->GetEndBone()->m_World.GetTranslation();
        }
    }
}

void CIKModel::CopyBoneMatrices(const CIKBone* bone)
{
    if (CMs3dJoint* joint = GetJoint(bone->m_JointIndex))
        joint->final = bone->m_World;
    for (const CIKBone* child : bone->m_Children)
        CopyBoneMatrices(child);
}

void CIKModel::ApplyToMesh()
{
    if (m_pWorkRoot)
        CopyBoneMatrices(m_pWorkRoot);
    Skin();
}

void CIKModel::Render()
{
    CMs3d::Render();
}

CVector3 CIKModel::GetScreenCentre() const
{
    return CMs3d::GetScreenCentre();
}
