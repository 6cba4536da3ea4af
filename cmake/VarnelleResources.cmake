# Resources compiled into the plug-in. Filled in with the banner artwork and the web site.
