#pragma once

#include "PlayerProcess.h"

namespace NovaroTest
{

// The smallest settings files the player accepts, written as an exporter would.
inline const char* minimalConfiguration()
{
    return "<configuration name=\"test\"><parameters>"
           "<parameter name=\"mode\">ar_simple</parameter>"
           "<parameter name=\"fullscreen\">false</parameter>"
           "</parameters></configuration>";
}
inline const char* minimalTracker()
{
    return "<tracker name=\"test\"><parameters/></tracker>";
}
inline const char* minimalVideo()
{
    return "<video name=\"test\"><formats><format name=\"4:3\" width=\"640\" height=\"480\"/></formats>"
           "<cameras><camera name=\"cam\" format=\"4:3\" path=\"camera.dat\"/></cameras></video>";
}
inline const char* minimalScene()
{
    return "<scene name=\"test\"><objects><object name=\"a\" type=\"ARObject\"><model source=\"a.osgt\"/>"
           "<markers><marker id=\"1\" layer=\"0\"/></markers></object></objects></scene>";
}
inline const char* minimalAudio()
{
    return "<audio name=\"test\"><soundtracks/></audio>";
}
inline const char* minimalMarkers()
{
    return "<markers patterns_file=\"patterns.dat\"><marker name=\"m\" tag=\"m\" id=\"1\" "
           "path=\"m.patt\"/></markers>";
}
inline const char* minimalLighting()
{
    return "<lighting name=\"test\"><parameters><parameter "
           "name=\"mode\">direct</parameter></parameters></lighting>";
}

// Writes the seven settings files: configuration, tracker and video into the working directory,
// the other four into the temporary directory (which may be the same).
inline void writeSettings(const TemporaryDirectory& working, const TemporaryDirectory& temporary)
{
    working.write("config.xml", minimalConfiguration());
    working.write("tracker.xml", minimalTracker());
    working.write("video.xml", minimalVideo());
    temporary.write("scene.xml", minimalScene());
    temporary.write("audio.xml", minimalAudio());
    temporary.write("markers.xml", minimalMarkers());
    temporary.write("lighting.xml", minimalLighting());
}

} // namespace NovaroTest
