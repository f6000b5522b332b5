#include "CSpectrum.h"

#include "Logger.h"
#include "NarrowFloat.h"
#include "XmlDepth.h"
#include "XmlTail.h"
#include "plugin.h"

#include <ctype.h>
#include <math.h>
#include <string.h>
#include <tinyxml.h>

namespace
{
const char* const kSource = "src\\CSpectrum";

// The single-precision values of 1/510 and 1/255.
const float kTwoChannelFactor = 0.0019607844f;
const float kOneChannelFactor = 0.003921569f;

bool SameNameNoCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
    {
        if (toupper(static_cast<unsigned char>(*a)) != toupper(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

// The part of [left, right) that lies inside the bins; empty when reversed.
bool ClipToBins(const CSpectrumRange& range, int& left, int& right)
{
    left = range.left < 0 ? 0 : range.left;
    right = range.right > SPECTRUM_BIN_COUNT ? SPECTRUM_BIN_COUNT : range.right;
    return left < right;
}
}

CSpectrum::CSpectrum()
{
    memset(m_Bins, 0, sizeof(m_Bins));
    Reset();
}

CSpectrum::~CSpectrum()
{
    Reset();
}

void CSpectrum::Reset()
{
    std::vector<CSpectrumRange>().swap(m_Coefs);
    m_Bass = {0, 192, 1.0f};
    m_Medium = {192, 384, 1.0f};
    m_Treble = {384, 576, 1.0f};
    strcpy(m_Name, "default");
}

void CSpectrum::ReadRange(CSpectrumRange& range, const TiXmlElement* element)
{
    // A missing attribute, or one that does not start with a number, reads as 0.
    int left = 0;
    int right = 0;
    double scale = 0.0;
    element->Attribute("left", &left);
    element->Attribute("right", &right);
    element->Attribute("scale", &scale);

    if (left < 0)
        left = 0;
    if (right > SPECTRUM_BIN_COUNT)
        right = SPECTRUM_BIN_COUNT;

    range.scale = NarrowToFloat(scale);
    range.left = left;
    range.right = right;
}

bool CSpectrum::Load(const char* path)
{
    CLogScope scope(&g_Logger, "SPECTRUM LOADER", 43, kSource);
    g_Logger.SetLocation(kSource, 45);
    g_Logger.Printf("destroying");

    Reset();
    g_Logger.SetLocation(kSource, 48);
    g_Logger.Printf("loading file %s", path ? path : "");

    TiXmlDocument document(path ? path : "");
    if (!path || !XmlNestingWithinLimit(path, kSource, 50) || !LoadXmlDocument(document))
    {
        g_Logger.SetLocation(kSource, 51);
        g_Logger.Printf("error loading file");
        return false;
    }

    for (const TiXmlElement* element = document.FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        const char* name = element->Value();
        if (!name)
            name = "";

        if (SameNameNoCase(name, "COEF"))
        {
            CSpectrumRange range;
            ReadRange(range, element);
            m_Coefs.push_back(range);
            g_Logger.SetLocation(kSource, 63);
            g_Logger.Printf("adding coef %d %d %f", range.left, range.right, range.scale);
        }
        else if (SameNameNoCase(name, "BASS"))
        {
            ReadRange(m_Bass, element);
            g_Logger.SetLocation(kSource, 69);
            g_Logger.Printf("setting BASS %d %d %f", m_Bass.left, m_Bass.right, m_Bass.scale);
        }
        else if (SameNameNoCase(name, "MEDIUM"))
        {
            ReadRange(m_Medium, element);
            g_Logger.SetLocation(kSource, 74);
            g_Logger.Printf("setting MEDIUM %d %d %f", m_Medium.left, m_Medium.right, m_Medium.scale);
        }
        else if (SameNameNoCase(name, "TREBLE"))
        {
            ReadRange(m_Treble, element);
            g_Logger.SetLocation(kSource, 79);
            g_Logger.Printf("setting TREBLE %d %d %f", m_Treble.left, m_Treble.right, m_Treble.scale);
        }
        else if (SameNameNoCase(name, "NAME"))
        {
            const char* value = element->Attribute("name");
            if (value)
            {
                strncpy(m_Name, value, sizeof(m_Name) - 1);
                m_Name[sizeof(m_Name) - 1] = '\0';
                g_Logger.SetLocation(kSource, 85);
                g_Logger.Printf("setting name %s", m_Name);
            }
        }
    }
    return true;
}

void CSpectrum::Update(const CVisModule* module)
{
    if (!module)
        return;
    if (module->spectrumNch < 1)
    {
        g_Logger.SetLocation(kSource, 118);
        g_Logger.Printf("Spectrum:: error 0 spectrum channels!!!");
        return;
    }

    const unsigned char* first = module->spectrumData[0];
    const unsigned char* second = module->spectrumData[1];
    if (module->spectrumNch == 2)
    {
        for (int i = 0; i < SPECTRUM_BIN_COUNT; ++i)
            m_Bins[i] = static_cast<float>(first[i] + second[i]) * kTwoChannelFactor;
    }
    else
    {
        for (int i = 0; i < SPECTRUM_BIN_COUNT; ++i)
            m_Bins[i] = static_cast<float>(first[i]) * kOneChannelFactor;
    }

    for (const CSpectrumRange& coef : m_Coefs)
    {
        int left;
        int right;
        if (!ClipToBins(coef, left, right))
            continue;
        for (int i = left; i < right; ++i)
            m_Bins[i] *= coef.scale;
    }

    for (int i = 0; i < SPECTRUM_BIN_COUNT; ++i)
    {
        // A not-a-number bin fails both tests and stays as it is.
        if (m_Bins[i] < 0.0f)
            m_Bins[i] = 0.0f;
        else if (m_Bins[i] > 1.0f)
            m_Bins[i] = 1.0f;
    }
}

double CSpectrum::GetRangeLevel(const CSpectrumRange& range) const
{
    int left;
    int right;
    // An empty or reversed band has no level; 0 rather than 0/0.
    if (!ClipToBins(range, left, right))
        return 0.0;

    double sum = 0.0;
    for (int i = left; i < right; ++i)
        sum += m_Bins[i];
    return sum / static_cast<double>(right - left) * range.scale;
}
