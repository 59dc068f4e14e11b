// Home page documents shared by the home page tests.
#ifndef FILMO_TEST_HOME_PAGES_H
#define FILMO_TEST_HOME_PAGES_H

// Every list and the account data filled, PascalCase and camelCase mixed, with elements that
// the list rule skips.
inline const char *const k_rich_home = R"({
  "List": [{"Id": "l1", "Value": "v1"}, 5, {"id": "l2", "value": "v2"}],
  "Continues": [{"IMDbId": "tt001", "Season": 2, "Episode": 5, "Value": 0.75,
                 "Size": 5000000000, "Duration": "01:02:03", "SizeStr": "4.7 GB",
                 "IsDuration": true, "UpdatedAt": "2026-01-02"}],
  "Level30s": [{"IMDbID": "tt030", "Size": 123, "FileName": "a.mkv"}],
  "Spotlights": [{"Logo": "logo.png", "Items": "tt1,tt2", "Title": "Spot", "OrderIndex": 4}],
  "ExtentList": [{"Id": "e1", "Value": "ev1"}],
  "Basics": [
    {"IMDbId": "tt100", "Title": "Alpha", "TagLine": "tag", "Plot": "plot",
     "PosterUrl": "p.jpg", "PictureUrl": "q.jpg", "ID": 100, "Year": 1999, "Duration": 136,
     "IsTVShow": false, "Genres": ["Action", "Drama", 7], "Directors": ["Dir"],
     "Ratings": {"imdb": 8.7, "rt": 88, "meta": "n/a"}},
    {"imDbId": "tt101", "title": "Beta", "isTVShow": true, "id": 101},
    {"Title": "NoImdb", "Plot": "p3"}
  ],
  "Peoples": [{"ID": 7, "Name": "Ann", "KnowsFor": "Acting", "ProfileUrl": "ann.jpg"}],
  "CollectionPlaylists": [
    {"Id": 3, "Name": "Coll", "Playlists": [{"Name": "PL", "IMDbIds": ["tt1", 2, "tt2"]}]},
    {"Name": "NoId"}
  ],
  "UserInfo": {"ID": "u-1", "Email": "a@b.c",
               "Memberships": [{"Type": 2, "Name": "Gold", "IsActive": true,
                                "Expiration": "2027"}],
               "Profiles": [{"ID": 1, "Name": "Kid", "Poster": "k.png", "Deleted": false,
                             "IsEnabled": true, "IsEmpty": true}]}
})";

// A small, different page to hold before an operation that must not disturb it.
inline const char *const k_old_home = R"({"Basics": [{"IMDbId": "tt-old", "Title": "Old"}]})";

#endif
