[Playlist] 
File1=a.mp3
