#include "social/PreviewPage.h"

#include "capture/DurableFile.h"

#include <algorithm>
#include <cmath>

namespace sorvane
{
namespace
{
constexpr int windowLength = 256;

juce::uint8 toByte(double value)
{
    if (!std::isfinite(value))
        return 0;
    return static_cast<juce::uint8>(juce::jlimit(0, 255, static_cast<int>(std::lround(value))));
}

const char* const pageTail =
    "';let data=new Uint8Array(32),wave=new Uint8Array(64).fill(128);function "
    "rings(t,e){g.strokeStyle='#12e5ed';"
    "g.lineWidth=S*.0074;g.shadowBlur=S*.046;g.shadowColor='#ff23c5';g.beginPath();for(let "
    "i=0;i<=320;i++){let "
    "q=i/320*Math.PI*2,r=S*(.278+Math.sin(q*7+t/450)*.074+e*.093*Math.sin(q*19-t/180)),x=CX+Math.cos(q)*r,"
    "y=CY+Math.sin(q)*r;i?g.lineTo(x,y):g.moveTo(x,y)}g.closePath();g.stroke()}function spectrum(){let "
    "bw=W/48;for(let i=0;i<48;i++){let v=(data&&data[i%data.length]||20)/255,h=S*(.17+v*.72);g.fillStyle=i%3?"
    "'rgba(124,55,255,.25)':'rgba(18,229,237,.3)';g.fillRect(i*bw,CY-h/2,bw*.8,h)}}function "
    "vector(t){g.strokeStyle='#ff23c5';g.lineWidth=S*.0046;g.shadowBlur=S*.039;g.shadowColor='#12e5ed';"
    "g.beginPath();for(let i=0;i<256;i++){let "
    "u=(wave[i%wave.length]??128)/128-1,v=(wave[(i+16)%wave.length]??"
    "128)/128-1,x=CX+u*S*.36,y=CY+v*S*.48+Math.sin(t/900+i/"
    "18)*S*.032;i?g.lineTo(x,y):g.moveTo(x,y)}g.stroke()}"
    "function draw(t){requestAnimationFrame(draw);const "
    "offset=Math.min(analysisFrames-1,Math.floor(a.currentTime/"
    "analysisHop))*96;data=analysis.subarray(offset,"
    "offset+32);wave=analysis.subarray(offset+32,offset+96);let "
    "e=data.reduce((x,y)=>x+y,0)/data.length/255;g.clearRect(0,0,W,H);if(mode==='spectral')spectrum();else "
    "if(mode==='vector')vector(t);else rings(t,e)}draw(0)</script>";
} // namespace

PreviewAnalysis analysePreviewAudio(const juce::AudioBuffer<float>& audio, double sampleRate)
{
    PreviewAnalysis analysis;
    const int n = audio.getNumSamples();
    const int c = audio.getNumChannels();
    // A rate that is not positive and finite would turn the page's hop into a division by zero.
    if (n <= 0 || c <= 0 || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return analysis;

    analysis.hopFrames = std::max(1, static_cast<int>(std::ceil(std::max(sampleRate / 10.0, n / 6000.0))));
    analysis.hopSeconds = analysis.hopFrames / sampleRate;
    analysis.frames = (n - 1) / analysis.hopFrames + 1;
    analysis.data.assign(static_cast<size_t>(analysis.frames) * PreviewAnalysis::bytesPerFrame, 0);

    std::array<double, windowLength> cosTable{}, sinTable{};
    for (int i = 0; i < windowLength; ++i)
    {
        cosTable[static_cast<size_t>(i)] = std::cos(juce::MathConstants<double>::twoPi * i / windowLength);
        sinTable[static_cast<size_t>(i)] = std::sin(juce::MathConstants<double>::twoPi * i / windowLength);
    }

    std::array<double, windowLength> window{};
    for (int f = 0; f < analysis.frames; ++f)
    {
        const auto start = static_cast<juce::int64>(f) * analysis.hopFrames;
        for (int i = 0; i < windowLength; ++i)
        {
            const auto index = start + i;
            double sum = 0.0;
            if (index < n)
                for (int ch = 0; ch < c; ++ch)
                    sum += audio.getSample(ch, static_cast<int>(index));
            window[static_cast<size_t>(i)] = sum / c;
        }

        auto* frame = analysis.data.data() + static_cast<size_t>(f) * PreviewAnalysis::bytesPerFrame;
        for (int k = 0; k < PreviewAnalysis::spectrumBytes; ++k)
        {
            double re = 0.0, im = 0.0;
            for (int i = 0; i < windowLength; ++i)
            {
                const auto phase = static_cast<size_t>(((k + 1) * i) % windowLength);
                re += window[static_cast<size_t>(i)] * cosTable[phase];
                im += window[static_cast<size_t>(i)] * sinTable[phase];
            }
            frame[k] = toByte(std::sqrt(std::sqrt(re * re + im * im) / 128.0) * 255.0);
        }
        for (int j = 0; j < PreviewAnalysis::waveformBytes; ++j)
            frame[PreviewAnalysis::spectrumBytes + j] =
                toByte((0.5 + 0.5 * window[static_cast<size_t>(j * 4)]) * 255.0);
    }
    return analysis;
}

juce::String htmlEscape(const juce::String& text)
{
    return text.replace("&", "&amp;")
        .replace("<", "&lt;")
        .replace(">", "&gt;")
        .replace("\"", "&quot;")
        .replace("'", "&#39;");
}

juce::String createPreviewHtml(const SocialExportOptions& options, const juce::AudioBuffer<float>& audio,
                               double sampleRate)
{
    const auto title = htmlEscape(options.title.isEmpty() ? juce::String("SORVANE") : options.title);
    const auto creator = htmlEscape(options.creator);
    const auto profile = socialAspectProfile(options.aspect);
    const char* ratio = options.aspect == 0 ? "9 / 16" : options.aspect == 1 ? "1 / 1" : "16 / 9";
    const char* mode = options.background == SocialBackground::SpectralFlux  ? "spectral"
                       : options.background == SocialBackground::VectorBloom ? "vector"
                                                                             : "rings";
    const auto analysis = analysePreviewAudio(audio, sampleRate);
    const auto encoded = analysis.data.empty()
                             ? juce::String()
                             : juce::Base64::toBase64(analysis.data.data(), analysis.data.size());

    juce::String page;
    page
        << "<!doctype html><meta charset=\"utf-8\"><meta name=\"viewport\" "
           "content=\"width=device-width\"><title>"
        << title
        << "</"
           "title><style>html,body{margin:0;background:#040519;color:#f4ebff;font-family:system-ui}main{"
           // As wide as the window allows while the whole frame, audio controls included, stays
           // inside the window's height: nothing to scroll to on any screen shape.
           "width:min(100vw,100vh*"
        << ratio << ");aspect-ratio:" << ratio
        << ";margin:auto;position:relative;background:linear-gradient(145deg,#040519,#190f46);overflow:"
           "hidden}"
           "canvas{width:100%;height:100%}section{position:absolute;inset:6% "
           "8%;text-align:center;pointer-events:"
           "none}h1{font-size:clamp(28px,7vw,72px);margin:0}p{color:#12e5ed;font-weight:700}audio{position:"
           "absolute;left:8%;right:8%;bottom:8%;width:84%;pointer-events:auto}</style><main><canvas></canvas>"
           "<section><h1>"
        << title << "</h1><p>" << creator
        << "</p></section><audio controls src=\"sorvane-teaser.wav\"></audio></main><script>const "
           "a=document.querySelector('audio'),c=document.querySelector('canvas'),g=c.getContext('2d');"
        << "const W=" << profile.width << ",H=" << profile.height
        << ",S=Math.min(W,H),CX=W/2,CY=H/2;c.width=W;c.height=H;"
        << "const analysisHop=" << juce::String(analysis.hopSeconds, 12)
        << ",analysisFrames=" << analysis.frames << ",analysis=Uint8Array.from(atob('" << encoded
        << "'),x=>x.charCodeAt(0));"
        << "const mode='" << mode << pageTail;
    return page;
}

bool writePreviewHtml(const juce::String& page, const juce::File& file)
{
    const auto text = page.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n");
    juce::String error;
    return writeFileDurably(file, text.toRawUTF8(), text.getNumBytesAsUTF8(), error);
}
} // namespace sorvane
